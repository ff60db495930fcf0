// Bundle and member names, and the package check, against the lab.
#include "tests/support/lab_fixture.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_util.h"

#include <gtest/gtest.h>
#include <string>

namespace {
const char *kBundle = R"(
interfaces:
  - {index: 10, name: ms-3/0/0, type: 102, fpc: 3, pic: 0}
  - index: 20
    name: ams0
    type: 153
    load_balancing: {members: [{name: mams-3/0/0}]}
  - {index: 21, name: mams-3/0/0, type: 154, fpc: 3, pic: 0, parent: ams0}
  - {index: 22, name: mams-4/0/0, type: 154, fpc: 4, pic: 0}
chassis:
  packages:
    ms-1/0/0: [jservices-hcm, hcm-extra]
    ms-2/0/0: [jservices-hcm]
)";
}

TEST(PackageCheck, WholeNamesOnTheRightPic) {
    vorel::test::LabRun lab(kBundle);
    ASSERT_TRUE(lab.started);
    EXPECT_EQ(vorel_util_is_pkg_installed(1, 0, "jservices-hcm"), 1);
    EXPECT_EQ(vorel_util_is_pkg_installed(1, 0, "hcm"), 0); // a part of a name is not the package
    EXPECT_EQ(vorel_util_is_pkg_installed(2, 0, "hcm-extra"), 0);
    EXPECT_EQ(vorel_util_is_pkg_installed(9, 0, "jservices-hcm"), 0); // unknown PIC
    EXPECT_EQ(vorel_util_is_pkg_installed(1, 0, nullptr), 0);
    EXPECT_EQ(vorel_util_is_pkg_installed(1, 0, "x' ; touch /tmp/vorel-pwned; '"), 0);
    // The command that would ask has 79 characters or more: not asked.
    EXPECT_EQ(vorel_util_is_pkg_installed(1, 0, "jservices-hcm-with-a-rather-long-name"), 0);
}
