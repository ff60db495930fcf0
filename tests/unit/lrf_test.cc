// The template word selects the first type of the table that the word
// begins; a word longer than every type, or unknown, selects none.
#include "vorel/vorel_cmd_lrf.h"

#include <gtest/gtest.h>
#include <string>

TEST(LrfTemplateType, TheFirstTypeTheWordBegins) {
    for (auto [word, type] : std::initializer_list<std::pair<const char *, const char *>>{
             {"ipv4", "ipv4"},
             {"ipflow-tcp-ts", "ipflow-tcp-ts"},
             {"pcc", "pcc"},
             {"", "ipv4"},
             {"ip", "ipv4"},
             {"ipv6-", "ipv6-extended"},
             {"ipflow-t", "ipflow-ts"},
             {"ipflow-tcp", "ipflow-tcp"},
             {"s", "subscriber-data"},
             {"st", "status-code-distribution"},
             {"ipv4x", "(none)"},
             {"pcc-rules", "(none)"}}) {
        const char *t = lrf_template_type_of(word);
        EXPECT_EQ(t ? t : "(none)", std::string(type)) << word;
    }
}
