#include "platform/xml.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

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

TEST_F(XmlOutput, NestsAndIndentsTwoBlanksPerLevel) {
    xml_subtree_open("service-cos-statistics-information", {xml_attr_style("brief")});
    xml_send_open("service-cos-statistics-entry");
    xml_send_all("interface-name", "%s", "ms-1/0/0");
    xml_send_all("received-forwarding-class", "%u", 7u);
    xml_send_empty("flag", {xml_attribute("set", "1")});
    xml_send_close("service-cos-statistics-entry");
    xml_subtree_close();
    xml_subtree_once();
    EXPECT_EQ(text(), "<service-cos-statistics-information style=\"brief\">\n"
                      "  <service-cos-statistics-entry>\n"
                      "    <interface-name>ms-1/0/0</interface-name>\n"
                      "    <received-forwarding-class>7</received-forwarding-class>\n"
                      "    <flag set=\"1\"/>\n"
                      "  </service-cos-statistics-entry>\n"
                      "</service-cos-statistics-information>\n");
    EXPECT_EQ(xml_depth(), 0u);
}

TEST_F(XmlOutput, NamespaceAttributeAndLeafWithAttributes) {
    xml_subtree_open("services-match-policies-information", {xml_attr_xmlns()});
    xml_attr_emit("count", {xml_attribute("unit", "flows")}, "%d", 3);
    xml_jxo_data("policy-match", "SFW/NAT No match found");
    xml_subtree_close();
    EXPECT_EQ(text(), std::string("<services-match-policies-information xmlns=\"") +
                          XML_NS_ADAPTIVE_SERVICES +
                          "\">\n"
                          "  <count unit=\"flows\">3</count>\n"
                          "  <policy-match>SFW/NAT No match found</policy-match>\n"
                          "</services-match-policies-information>\n");
}

TEST_F(XmlOutput, EscapesTextAndAttributes) {
    xml_send_open("a", {xml_attribute("v", "x<\"y\"&'z'>\n\t")});
    xml_send_all("t", "%s", "a<b & \"c\" > 'd'\ttab\nline");
    xml_send_close("a");
    EXPECT_EQ(text(), "<a v=\"x&lt;&quot;y&quot;&amp;'z'&gt;&#10;&#9;\">\n"
                      "  <t>a&lt;b &amp; \"c\" &gt; 'd'\ttab\nline</t>\n"
                      "</a>\n");
}

TEST_F(XmlOutput, ReplacesBytesThatWouldBreakTheDocument) {
    // Valid UTF-8 of two, three and four bytes is kept; a control byte, an
    // overlong form, a surrogate, a noncharacter and a cut sequence are not.
    xml_jxo_data("ok", "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
    xml_jxo_data("bad", "a\x01"
                        "b\xc0\x80"
                        "c\xed\xa0\x80"
                        "d\xef\xbf\xbf"
                        "e\xe2\x82");
    EXPECT_EQ(text(), "<ok>\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80</ok>\n"
                      "<bad>a?b??c???d???e??"
                      "</bad>\n");
}

TEST_F(XmlOutput, FormatsLongTextAndNullStrings) {
    std::string longtext(1000, 'x');
    xml_send_all("long", "[%s]", longtext.c_str());
    const char *volatile none = nullptr; // hidden from the compiler's format check
    xml_send_all("null", "%s", none);
    xml_send_all("empty", "%s", "");
    EXPECT_EQ(text(), "<long>[" + longtext + "]</long>\n<null>(null)</null>\n<empty></empty>\n");
}

TEST_F(XmlOutput, WritesNothingWhenXmlModeIsOff) {
    xml_set_mode(false);
    xml_subtree_open("a");
    xml_send_all("b", "%d", 1);
    xml_error("vorel", "oops");
    xml_subtree_close();
    EXPECT_EQ(text(), "");
    EXPECT_EQ(xml_depth(), 0u);
}

TEST_F(XmlOutput, ClosesFollowTheOpenElements) {
    xml_subtree_close(); // nothing open: ignored
    xml_send_close("a"); // nothing open: ignored
    xml_subtree_open("a");
    xml_send_open("b");
    xml_send_open("c");
    xml_send_close("x"); // not open: ignored
    EXPECT_EQ(xml_depth(), 3u);
    xml_send_close("b"); // closes c, then b
    xml_send_open("d");
    xml_send_close(nullptr); // the innermost
    xml_subtree_close();
    xml_subtree_close(); // nothing left: ignored
    EXPECT_EQ(text(), "<a>\n"
                      "  <b>\n"
                      "    <c>\n"
                      "    </c>\n"
                      "  </b>\n"
                      "  <d>\n"
                      "  </d>\n"
                      "</a>\n");
}

TEST_F(XmlOutput, ErrorElementInsideOpenElementsAndUnwind) {
    xml_subtree_open("interface-load-balancing-information");
    xml_send_open("interface-load-balancing");
    xml_error("/usr/sbin/vorel", "Invalid load-balancing interface <x>\n");
    xml_subtree_unwind();
    EXPECT_EQ(xml_depth(), 0u);
    xml_error(nullptr, "no program");
    EXPECT_EQ(text(), "<interface-load-balancing-information>\n"
                      "  <interface-load-balancing>\n"
                      "    <error>\n"
                      "      <source-daemon>vorel</source-daemon>\n"
                      "      <message>Invalid load-balancing interface &lt;x&gt;</message>\n"
                      "    </error>\n"
                      "  </interface-load-balancing>\n"
                      "</interface-load-balancing-information>\n"
                      "<error>\n"
                      "  <message>no program</message>\n"
                      "</error>\n");
}

TEST_F(XmlOutput, SubtreeOnceFlushesTheOutput) {
    xml_subtree_open("a");
    xml_send_all("b", "1");
    xml_subtree_close();
    xml_subtree_once();
    // open_memstream publishes its contents only on a flush.
    EXPECT_EQ(std::string(buf_, len_), "<a>\n  <b>1</b>\n</a>\n");
}

// Leaves of a fixed tag are written exactly as leaves named at each call.
TEST_F(XmlOutput, FixedTagsWriteWhatNamedTagsWrite) {
    static const xml_tag entry("sfw-flow-entry"), ip("sfw-flow-source-ip"),
        frames("sfw-flow-frame-counter"), nat("sfw-flow-nat");
    xml_subtree_open("table");
    xml_open(entry);
    xml_leaf(ip, "10.0.0.1");
    xml_leaf(ip, "a<b & \x01");
    xml_leaf(frames, 0u);
    xml_leaf(frames, 4294967295u);
    xml_open(nat);
    xml_leaf(ip, "");
    xml_close(entry); // closes the translation first
    xml_close(nat);   // nothing of that name open: ignored
    std::string fixed = text();

    xml_subtree_unwind();
    std::fflush(out_);
    size_t mark = len_;
    xml_subtree_open("table");
    xml_send_open("sfw-flow-entry");
    xml_send_all("sfw-flow-source-ip", "%s", "10.0.0.1");
    xml_send_all("sfw-flow-source-ip", "%s", "a<b & \x01");
    xml_send_all("sfw-flow-frame-counter", "%u", 0u);
    xml_send_all("sfw-flow-frame-counter", "%u", 4294967295u);
    xml_send_open("sfw-flow-nat");
    xml_send_all("sfw-flow-source-ip", "%s", "");
    xml_send_close("sfw-flow-entry");
    xml_send_close("sfw-flow-nat");
    std::string named = text().substr(mark);
    EXPECT_EQ(fixed, named);
    EXPECT_EQ(fixed, "<table>\n"
                     "  <sfw-flow-entry>\n"
                     "    <sfw-flow-source-ip>10.0.0.1</sfw-flow-source-ip>\n"
                     "    <sfw-flow-source-ip>a&lt;b &amp; ?</sfw-flow-source-ip>\n"
                     "    <sfw-flow-frame-counter>0</sfw-flow-frame-counter>\n"
                     "    <sfw-flow-frame-counter>4294967295</sfw-flow-frame-counter>\n"
                     "    <sfw-flow-nat>\n"
                     "      <sfw-flow-source-ip></sfw-flow-source-ip>\n"
                     "    </sfw-flow-nat>\n"
                     "  </sfw-flow-entry>\n");
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

// Reads what a child process wrote to the pipe until it exits.
std::string read_all(int fd) {
    std::string s;
    char b[256];
    ssize_t n;
    while ((n = read(fd, b, sizeof b)) > 0)
        s.append(b, static_cast<size_t>(n));
    return s;
}

TEST(XmlExit, ElementsStillOpenAreClosedWhenTheProcessExits) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(p[0]);
        FILE *f = fdopen(p[1], "w");
        xml_set_output(f);
        xml_set_mode(true);
        xml_subtree_open("service-cos-statistics-information", {xml_attr_style("summary")});
        xml_send_open("entry");
        xml_send_all("n", "%d", 1);
        std::exit(3);
    }
    close(p[1]);
    std::string out = read_all(p[0]);
    close(p[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(out, "<service-cos-statistics-information style=\"summary\">\n"
                   "  <entry>\n"
                   "    <n>1</n>\n"
                   "  </entry>\n"
                   "</service-cos-statistics-information>\n");
}

} // namespace
