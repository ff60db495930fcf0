#include "tests/support/lab_fixture.h"
#include "vorel/vorel_files.h"
#include "vorel/vorel_string.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

TEST(Strings, StrlcpyAlwaysTerminatesAndReportsTheSourceLength) {
    char b[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(vorel_strlcpy(b, "abcdef", sizeof b), 6u);
    EXPECT_STREQ(b, "abc");
    EXPECT_EQ(vorel_strlcpy(b, "", sizeof b), 0u);
    EXPECT_STREQ(b, "");
    char c[8] = "ab";
    EXPECT_EQ(vorel_strlcat(c, "cdefgh", sizeof c), 8u);
    EXPECT_STREQ(c, "abcdefg");
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

TEST(Files, CreateRefusesASymbolicLink) {
    vorel::test::TempDir dir;
    std::string target = dir.file("target"), link = dir.file("link");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(vorel_create_file(link), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_NE(access(target.c_str(), F_OK), 0);
    int fd = vorel_create_file(dir.file("plain"));
    EXPECT_GE(fd, 0);
    close(fd);
}
