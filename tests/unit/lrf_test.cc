// The template word's selection of a type: the first type of the table
// that the word begins.
#include "vorel/vorel_cmd_lrf.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string type_of(const char *word) {
    const char *t = lrf_template_type_of(word);
    return t ? t : "(none)";
}

TEST(LrfTemplateType, WholeNamesSelectThemselves) {
    EXPECT_EQ(type_of("ipv4"), "ipv4");
    EXPECT_EQ(type_of("ipv4-extended"), "ipv4-extended");
    EXPECT_EQ(type_of("ipflow-tcp-ts"), "ipflow-tcp-ts");
    EXPECT_EQ(type_of("pcc"), "pcc");
}

TEST(LrfTemplateType, APrefixSelectsTheFirstTypeItBegins) {
    EXPECT_EQ(type_of(""), "ipv4");
    EXPECT_EQ(type_of("ip"), "ipv4");
    EXPECT_EQ(type_of("ipv6"), "ipv6");
    EXPECT_EQ(type_of("ipv6-"), "ipv6-extended");
    EXPECT_EQ(type_of("ipflow-t"), "ipflow-ts");
    EXPECT_EQ(type_of("ipflow-tcp"), "ipflow-tcp");
    EXPECT_EQ(type_of("s"), "subscriber-data");
    EXPECT_EQ(type_of("st"), "status-code-distribution");
}

TEST(LrfTemplateType, AWordLongerThanEveryTypeOrUnknownSelectsNone) {
    EXPECT_EQ(type_of("ipv4x"), "(none)");
    EXPECT_EQ(type_of("pcc-rules"), "(none)");
    EXPECT_EQ(type_of("netflow"), "(none)");
}

} // namespace
