// The lab's message layouts: a definition that cannot be encoded is refused
// with a message that says why (the encoder itself is seen end to end).
#include "lab/layouts.h"

#include <gtest/gtest.h>

using namespace vorel::lab;

TEST(Layouts, BadDefinitionsAreRefused) {
    const char *cases[][2] = {
        {"[{name: a, type: 1, size: 16, fields: [{name: x, offset: 14, type: be32}]}]",
         "field 'x' ends at byte 18, past the end (16)"},
        {"[{name: a, type: 1, size: 16, fields: [{name: x, offset: 4, type: be16}]}]",
         "field 'x' overlaps the message header"},
        {"[{name: a, type: 1, size: 16, fields: [{name: x, offset: 8, type: be24}]}]",
         "unknown field type 'be24'"},
        {"[{name: a, type: 1, size: 16, fields: [{name: x, offset: 8, type: text}]}]",
         "missing field 'width'"},
        {"[{name: a, type: 1, size: 32, fields: [{name: x, offset: 8, count: 2, stride: 4, fields: "
         "[{name: y, offset: 2, type: be32}]}]}]",
         "field 'y' ends at byte 6, past the end (4)"},
        {"[{name: a, type: 1, size: 16, fields: [{name: c, offset: 8, type: u8, count_of: z}]}]",
         "count_of names no array field 'z'"},
        {"[{name: tcplog_conn_reply, type: 1, size: 16}]",
         "layout 'tcplog_conn_reply' is already defined at lab/layouts/tcplog.yaml:"},
        {"[{name: a, type: 1, size: 4}]", "at least its 8-byte header"},
    };
    for (const auto &c : cases) {
        ScenarioReader reader{"test.yaml"};
        LayoutSet layouts;
        std::vector<std::string> builtin_errors;
        layouts.add_builtin(builtin_errors);
        EXPECT_TRUE(builtin_errors.empty());
        layouts.add(YAML::Load(c[0]), reader);
        std::string all;
        for (const auto &e : reader.errors())
            all += e + "\n";
        EXPECT_NE(all.find(c[1]), std::string::npos) << c[0] << "\n" << all;
    }
}
