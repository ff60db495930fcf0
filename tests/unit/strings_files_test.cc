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

TEST(Strings, StrnstrSearchesOnlyThePrefix) {
    const char *s = "ms-1/0/0 mams";
    EXPECT_EQ(vorel_strnstr(s, "mams", 8), nullptr);
    EXPECT_EQ(vorel_strnstr(s, "mams", 13), s + 9);
    EXPECT_EQ(vorel_strnstr(s, "mams", 12), nullptr);
    EXPECT_EQ(vorel_strnstr(s, "", 0), s);
    EXPECT_STREQ(vorel_str_or_null(nullptr), "NULL");
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

TEST(Files, PackageNamesAreWholeWordsOfASafeAlphabet) {
    EXPECT_TRUE(vorel_is_safe_package_name("hcm"));
    EXPECT_TRUE(vorel_is_safe_package_name("jservices-hcm_1.2-x"));
    EXPECT_FALSE(vorel_is_safe_package_name("hcm'; rm -rf /"));
    EXPECT_FALSE(vorel_is_safe_package_name("a b"));
    EXPECT_FALSE(vorel_is_safe_package_name(""));
}

TEST(Files, CreateRefusesASymbolicLink) {
    char dir[] = "/tmp/vorel-files-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string target = std::string(dir) + "/target";
    std::string link = std::string(dir) + "/link";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(vorel_create_file(link), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_NE(access(target.c_str(), F_OK), 0);
    int fd = vorel_create_file(std::string(dir) + "/plain");
    EXPECT_GE(fd, 0);
    close(fd);
    unlink((std::string(dir) + "/plain").c_str());
    unlink(link.c_str());
    rmdir(dir);
}

TEST(Strings, DecimalWordsAreWholeAndBounded) {
    unsigned long long v = 7;
    EXPECT_TRUE(vorel_parse_decimal("0", 65535, &v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(vorel_parse_decimal("65535", 65535, &v));
    EXPECT_EQ(v, 65535u);
    v = 7;
    for (const char *bad :
         {"65536", "", "-1", "+1", " 1", "1 ", "1x", "0x10", "99999999999999999999"})
        EXPECT_FALSE(vorel_parse_decimal(bad, 65535, &v)) << bad;
    EXPECT_FALSE(vorel_parse_decimal(nullptr, 65535, &v));
    EXPECT_EQ(v, 7u);
    EXPECT_TRUE(vorel_parse_decimal("18446744073709551615", ~0ull, &v));
    EXPECT_EQ(v, ~0ull);
    EXPECT_FALSE(vorel_parse_decimal("18446744073709551616", ~0ull, &v));
}
