// Bundle and member names, and the package check, against the lab.
#include "lab_fixture.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_util.h"

#include <gtest/gtest.h>
#include <string>

TEST(AmsNames, OnlyTheTwoOrFourCharacterPrefixIsTested) {
    uint8_t flag = 9;
    char out[AMS_NAME_LEN];
    vorel_mams_name_of_ms("ms-1/2/0", &flag, out);
    EXPECT_EQ(flag, 1);
    EXPECT_STREQ(out, "mams-1/2/0");
    vorel_mams_name_of_ms("msp-1", &flag, out);
    EXPECT_STREQ(out, "mamsp-1");
    vorel_mams_name_of_ms("sp-1/0/0", &flag, out);
    EXPECT_EQ(flag, 0);
    EXPECT_STREQ(out, "");
    vorel_mams_name_of_ms(nullptr, &flag, out);
    EXPECT_EQ(flag, 0);

    vorel_ms_name_of_mams("mams-1/2/0", &flag, out);
    EXPECT_EQ(flag, 1);
    EXPECT_STREQ(out, "ms-1/2/0");
    vorel_ms_name_of_mams("ms-1/2/0", &flag, out);
    EXPECT_EQ(flag, 0);
    EXPECT_STREQ(out, "");
}

TEST(AmsNames, LongNamesAreCutTo59Characters) {
    std::string longname = "ms-" + std::string(70, 'x');
    uint8_t flag = 0;
    char out[AMS_NAME_LEN];
    vorel_mams_name_of_ms(longname.c_str(), &flag, out);
    EXPECT_EQ(std::string(out), "mams-" + std::string(54, 'x'));
}

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

TEST(AmsLookups, BundlesMembersAndDisplayNames) {
    vorel::test::LabRun lab(kBundle);
    ASSERT_TRUE(lab.started);
    EXPECT_EQ(is_ams_ifd_name(nullptr, "ams0"), 1);
    EXPECT_EQ(is_ams_ifd_name(nullptr, "mams-3/0/0"), 0);
    EXPECT_EQ(is_ams_ifd_name(nullptr, "nothing"), 0);
    EXPECT_EQ(is_ams_ifd_idx(nullptr, 20), 1);
    EXPECT_EQ(is_ams_ifd_idx(nullptr, 10), 0);

    rtslib_handle *h = rtslib_open(3);
    ASSERT_NE(h, nullptr);
    uint16_t fpc = 0, pic = 0, idx = 0;
    EXPECT_EQ(mams_get_fpc_pic_slot_by_name(h, "mams-3/0/0", &fpc, &pic, &idx), 0);
    EXPECT_EQ(fpc, 3);
    EXPECT_EQ(idx, 21);
    fpc = 77;
    EXPECT_EQ(mams_get_fpc_pic_slot_by_name(h, "ms-3/0/0", &fpc, &pic, &idx), 1);
    EXPECT_EQ(fpc, 77); // untouched
    EXPECT_NE(mams_get_fpc_pic_slot_by_name(h, "none", &fpc, &pic, &idx), 0);
    rtslib_close(h);

    char buf[AMS_CONCAT_NAME_LEN];
    EXPECT_STREQ(find_and_concat_pifd_name("mams-3/0/0", buf), "mams-3/0/0 (ams0)");
    const char *plain = "ms-3/0/0";
    EXPECT_EQ(find_and_concat_pifd_name(plain, buf), plain);
    const char *orphan = "mams-4/0/0"; // its parent cannot be found
    EXPECT_EQ(find_and_concat_pifd_name(orphan, buf), orphan);
    EXPECT_EQ(find_and_concat_pifd_name(orphan, nullptr), orphan);
}

TEST(AmsLookups, WithoutAKernelEveryAnswerIsNeutral) {
    ::setenv("VOREL_LAB_SOCKET", "/nonexistent/vorel.sock", 1);
    EXPECT_EQ(is_ams_ifd_name(nullptr, "ams0"), 0);
    char buf[AMS_CONCAT_NAME_LEN];
    const char *name = "mams-3/0/0";
    EXPECT_EQ(find_and_concat_pifd_name(name, buf), name);
    ::unsetenv("VOREL_LAB_SOCKET");
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
