// The package check against the lab's package lists.
#include "tests/support/lab_fixture.h"
#include "vorel/vorel_util.h"

#include <gtest/gtest.h>

namespace {
const char *kPackages = R"(
chassis:
  packages:
    ms-1/0/0: [jservices-hcm, jservices-hcm-with-a-rather-long-name]
)";
}

// Whole names on the asked PIC are seen end to end (hcm_stats, lrf_views).
// A name that the asking command could not hold (79 characters or more) is
// refused although the PIC lists it, and so is no name.
TEST(PackageCheck, ANameTooLongForTheAskingCommandIsRefused) {
    vorel::test::LabRun lab(kPackages);
    ASSERT_TRUE(lab.started);
    EXPECT_EQ(vorel_util_is_pkg_installed(1, 0, "jservices-hcm"), 1);
    EXPECT_EQ(vorel_util_is_pkg_installed(1, 0, "jservices-hcm-with-a-rather-long-name"), 0);
    EXPECT_EQ(vorel_util_is_pkg_installed(1, 0, nullptr), 0);
}
