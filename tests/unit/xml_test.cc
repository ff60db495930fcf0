#include "platform/xml.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// Collects the library's output in memory.
class XmlOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        out_ = open_memstream(&buf_, &len_);
        ASSERT_NE(out_, nullptr);
        xml_set_output(out_);
        xml_set_mode(true);
    }
    void TearDown() override {
        xml_subtree_unwind();
        xml_set_mode(false);
        xml_set_output(nullptr);
        std::fclose(out_);
        std::free(buf_);
    }
    std::string text() {
        std::fflush(out_);
        return std::string(buf_, len_);
    }

    FILE *out_ = nullptr;
    char *buf_ = nullptr;
    size_t len_ = 0;
};

TEST_F(XmlOutput, EscapesTextAndAttributesAndReplacesBytesThatBreakTheDocument) {
    xml_send_open("a", {xml_attribute("v", "x<\"y\"&'z'>\n\t")});
    xml_send_all("t", "%s", "a<b & \"c\" > 'd'\ttab\nline");
    xml_send_close("a");
    // Valid UTF-8 of two, three and four bytes is kept; a control byte, an
    // overlong form, a surrogate, a noncharacter and a cut sequence are not.
    xml_jxo_data("ok", "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
    xml_jxo_data("bad", "a\x01"
                        "b\xc0\x80"
                        "c\xed\xa0\x80"
                        "d\xef\xbf\xbf"
                        "e\xe2\x82");
    EXPECT_EQ(text(), "<a v=\"x&lt;&quot;y&quot;&amp;'z'&gt;&#10;&#9;\">\n"
                      "  <t>a&lt;b &amp; \"c\" &gt; 'd'\ttab\nline</t>\n"
                      "</a>\n"
                      "<ok>\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80</ok>\n"
                      "<bad>a?b??c???d???e??"
                      "</bad>\n");
}

// Closes follow the open elements: a name not open is ignored, a name
// further out closes what is inside it, a null name the innermost; with
// XML mode off nothing is written.
TEST_F(XmlOutput, ClosesFollowTheOpenElementsAndModeOffWritesNothing) {
    static const xml_tag d("d"), b("b");
    xml_subtree_close();
    xml_send_close("a");
    xml_subtree_open("a", {xml_attr_xmlns()});
    xml_send_open("b");
    xml_send_open("c");
    xml_send_close("x");
    EXPECT_EQ(xml_depth(), 3u);
    xml_close(b); // closes c, then b
    xml_open(d);
    xml_send_close(nullptr);
    const char *volatile none = nullptr; // hidden from the compiler's format check
    xml_send_all("n", "%s", none);
    xml_attr_emit("count", {xml_attribute("unit", "flows")}, "%d", 3);
    xml_subtree_close();
    xml_set_mode(false);
    xml_subtree_open("hidden");
    xml_attr_emit("count", {}, "%d", 4);
    EXPECT_EQ(text(), std::string("<a xmlns=\"") + XML_NS_ADAPTIVE_SERVICES +
                          "\">\n  <b>\n    <c>\n    </c>\n  </b>\n  <d>\n  </d>\n"
                          "  <n>(null)</n>\n  <count unit=\"flows\">3</count>\n</a>\n");
}

// The fixed-tag leaf checks its text eight bytes at a time: every byte
// value, at every place of texts of every length around a word, must be
// escaped or replaced exactly as the byte-by-byte path does it.
TEST_F(XmlOutput, FixedTagLeavesEscapeEveryByteAsNamedLeavesDo) {
    static const xml_tag leaf("v");
    for (int byte = 1; byte < 256; byte++) {
        for (size_t len = 1; len <= 19; len++) {
            for (size_t at = 0; at < len; at++) {
                std::string t(len, 'x');
                t[at] = static_cast<char>(byte);
                std::fflush(out_);
                size_t mark = len_;
                xml_leaf(leaf, t);
                xml_send_all("v", "%s", t.c_str());
                std::fflush(out_);
                std::string both(buf_ + mark, len_ - mark);
                size_t half = both.size() / 2;
                ASSERT_EQ(both.substr(0, half), both.substr(half))
                    << byte << " " << len << " " << at;
            }
        }
    }
}

// A row of leaves writes what single leaves write, also past its first
// room and deeper than 16 blanks; with XML mode off it writes nothing.
TEST_F(XmlOutput, ARowOfLeavesWritesWhatSingleLeavesWrite) {
    static const xml_tag name("name"), count("count");
    for (int i = 0; i < 9; i++)
        xml_send_open("e");
    const std::string long_text(600, 'a');
    size_t mark = text().size();
    xml_leaf(name, long_text);
    xml_leaf(count, 4294967295u);
    xml_leaf(name, "b");
    std::string single = text().substr(mark);
    {
        xml_leaves row;
        row.leaf(name, long_text);
        row.leaf(count, 4294967295u);
        row.leaf(name, "b");
    }
    EXPECT_EQ(text().substr(mark), single + single);
    xml_set_mode(false);
    {
        xml_leaves row;
        row.leaf(name, "hidden");
    }
    xml_set_mode(true);
    xml_leaf(name, "b");
    EXPECT_EQ(text().substr(mark), single + single + std::string(18, ' ') + "<name>b</name>\n");
}

// A row opening and closing elements writes what the single calls write,
// into a fully buffered stream's own buffer, into the line after lines a
// batch holds, and into a memory stream; a close naming an outer element
// closes down to it, and an element a row leaves open is closed by the
// unwind.  With XML mode off a row opens nothing.
TEST_F(XmlOutput, ARowWithElementsWritesWhatTheSingleCallsWrite) {
    static const xml_tag outer("outer"), inner("inner"), leaf("leaf");
    const std::string expected = "<outer>\n  <leaf>a</leaf>\n  <inner>\n    <leaf>7</leaf>\n"
                                 "  </inner>\n</outer>\n";
    auto row = [] {
        xml_leaves r;
        r.open(outer);
        r.leaf(leaf, "a");
        r.open(inner);
        r.leaf(leaf, 7u);
        r.close(outer);
    };
    FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    static char buffer[4096];
    std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
    xml_set_output(file);
    row();
    {
        xml_batch batch;
        xml_send_all("b", "1");
        row();
    }
    xml_set_output(out_);
    std::string written(3 * expected.size() + 16, '\0');
    std::rewind(file);
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    EXPECT_EQ(written, expected + "<b>1</b>\n" + expected);
    row();
    {
        xml_leaves r;
        r.open(outer);
    }
    EXPECT_EQ(xml_depth(), 1u);
    xml_subtree_unwind();
    xml_set_mode(false);
    {
        xml_leaves r;
        r.open(inner);
    }
    EXPECT_EQ(xml_depth(), 0u);
    EXPECT_EQ(text(), expected + "<outer>\n</outer>\n");
}

// A fixed tag's attributes are escaped once, when it is made, as the named
// call escapes them every time (a nameless one left out the same way).
TEST_F(XmlOutput, AFixedTagWithAttributesOpensAsTheNamedCallDoes) {
    const xml_attrs attrs = {xml_attribute("heading", "a<\"b\"&\n\tc"), xml_attribute("", "x"),
                             xml_attribute("n", "1")};
    static const xml_tag table("t", attrs);
    xml_send_open("t", attrs);
    xml_send_close("t");
    std::string named = text();
    xml_open(table);
    xml_close(table);
    EXPECT_EQ(text(), named + named);
    EXPECT_EQ(named, "<t heading=\"a&lt;&quot;b&quot;&amp;&#10;&#9;c\" n=\"1\">\n</t>\n");
}

// A batch holds its lines back until it ends; a flush or an error element
// inside it writes them first, so nothing is reordered or lost.
TEST_F(XmlOutput, BatchesWriteTheirLinesInOrder) {
    xml_subtree_open("a");
    std::fflush(out_);
    size_t before = len_;
    {
        xml_batch outer;
        xml_send_all("b", "1");
        {
            xml_batch inner;
            xml_send_all("c", "2");
        }
        std::fflush(out_);
        EXPECT_EQ(len_, before) << "a nested batch's end must not write";
        xml_send_all("d", "3");
    }
    EXPECT_EQ(text(), "<a>\n  <b>1</b>\n  <c>2</c>\n  <d>3</d>\n");
    {
        xml_batch batch;
        xml_send_all("e", "4");
        xml_error("vorel", "stop\n");
        EXPECT_EQ(std::string(buf_, len_).substr(before),
                  "  <b>1</b>\n  <c>2</c>\n  <d>3</d>\n  <e>4</e>\n"
                  "  <error>\n    <source-daemon>vorel</source-daemon>\n"
                  "    <message>stop</message>\n  </error>\n");
        xml_send_all("f", "5");
        xml_subtree_once();
        EXPECT_NE(std::string(buf_, len_).find("<f>5</f>"), std::string::npos);
    }
}

} // namespace
