#include "vorel/vorel_files.h"
#include "vorel/vorel_string.h"

#include <gtest/gtest.h>

TEST(Strings, StrlcpyAlwaysTerminatesAndReportsTheSourceLength) {
    char b[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(vorel_strlcpy(b, "abcdef", sizeof b), 6u);
    EXPECT_STREQ(b, "abc");
    EXPECT_EQ(vorel_strlcpy(b, "", sizeof b), 0u);
    EXPECT_STREQ(b, "");
}

TEST(Files, NamesNeverLeaveTheirDirectory) {
    EXPECT_TRUE(vorel_is_safe_file_name("cap1"));
    EXPECT_TRUE(vorel_is_safe_file_name("..cap"));
    EXPECT_FALSE(vorel_is_safe_file_name(""));
    EXPECT_FALSE(vorel_is_safe_file_name("."));
    EXPECT_FALSE(vorel_is_safe_file_name(".."));
    EXPECT_FALSE(vorel_is_safe_file_name("../etc/passwd"));
    EXPECT_FALSE(vorel_is_safe_file_name(nullptr));
    EXPECT_EQ(vorel_file_name_from("../../etc/x"), ".._.._etc_x");
    EXPECT_EQ(vorel_file_name_from(nullptr), "");
}
