#include "platform/xml.h"

#include "platform/format.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// An open element: one of a fixed tag, or one opened by name, whose name
// begins at `start` in XmlState::names.
struct Open {
    const xml_tag *tag;
    size_t start;
};

// Everything the library keeps between calls.  Buffers are cleared, not
// freed, so once they have grown to the size of the longest line no call
// allocates.  The state is never destroyed: the exit hook may run after
// other static objects are gone.
struct XmlState {
    bool on = false;
    bool hook_registered = false;
    FILE *out = nullptr;     // null: standard output
    std::string names;       // the names of the open elements opened by name, each ended by '\0'
    std::vector<Open> opens; // the open elements, the innermost last
    vorel::TextBuffer line;  // the line being built (lines, while a batch is open)
    unsigned batches = 0;    // batches open
    vorel::TextBuffer text;  // formatted leaf text
};

// Left to the optimiser to inline (a flow entry asks for it
// half a dozen times): forced inline, every caller held a copy of the
// guard, even in an unoptimised build.
inline XmlState &state() {
    static XmlState *s = new XmlState;
    return *s;
}

FILE *output(const XmlState &s) {
    return s.out ? s.out : stdout;
}

// Hands what the line buffer holds to the stream.  The program has one
// thread writing its output: the stream's lock is not taken.
void write_out(XmlState &s) {
    if (s.line.empty())
        return;
    fwrite_unlocked(s.line.data(), 1, s.line.size(), output(s));
    s.line.clear();
}

// Every line is handed to the stream as it is made, so that XML and text
// written with printf come out in order; inside a batch, where nothing
// else writes, lines wait for the batch's end.
void flush_line(XmlState &s) {
    if (!s.batches)
        write_out(s);
}

// Writes what a batch holds, then flushes the stream.
void flush_all(XmlState &s) {
    write_out(s);
    std::fflush(output(s));
}

void indent(XmlState &s) {
    s.line.fill(' ', s.opens.size() * 2);
}

// The indented start of a tag, "<tag" (its attributes and ">" follow).
void append_tag_start(XmlState &s, const char *tag, size_t tag_len) {
    size_t blanks = s.opens.size() * 2;
    char *d = s.line.extend(blanks + 1 + tag_len);
    if (blanks <= 16)
        std::memset(d, ' ', 16); // within the slack; the tag overwrites the rest
    else
        std::memset(d, ' ', blanks);
    d[blanks] = '<';
    vorel::TextBuffer::put(d + blanks + 1, tag, tag_len);
}

// "</tag>" and the end of the line.
void append_end_tag(XmlState &s, const char *tag, size_t tag_len) {
    char *d = s.line.extend(tag_len + 4);
    d[0] = '<';
    d[1] = '/';
    vorel::TextBuffer::put(d + 2, tag, tag_len);
    d[tag_len + 2] = '>';
    d[tag_len + 3] = '\n';
}

// Length of the well-formed UTF-8 sequence at p (at most n bytes), or 0.
size_t utf8_sequence(const unsigned char *p, size_t n) {
    unsigned char c = p[0];
    size_t len;
    unsigned char lo = 0x80, hi = 0xbf; // range of the second byte
    if (c >= 0xc2 && c <= 0xdf) {
        len = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        len = 3;
        if (c == 0xe0)
            lo = 0xa0;
        else if (c == 0xed) // no surrogates
            hi = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        len = 4;
        if (c == 0xf0)
            lo = 0x90;
        else if (c == 0xf4)
            hi = 0x8f;
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi)
        return 0;
    for (size_t i = 2; i < len; i++)
        if ((p[i] & 0xc0) != 0x80)
            return 0;
    // U+FFFE and U+FFFF are not characters XML allows.
    if (len == 3 && c == 0xef && p[1] == 0xbf && (p[2] == 0xbe || p[2] == 0xbf))
        return 0;
    return len;
}

constexpr bool plain_byte(unsigned char c, bool attr) {
    return c >= 0x20 && c < 0x80 && c != '&' && c != '<' && c != '>' && !(attr && c == '"');
}

// plain_byte as two tables (element content, attribute values): the escape
// scan looks at every byte of the output.
struct PlainBytes {
    bool content[256];
    bool attr[256];
};

constexpr PlainBytes make_plain_bytes() {
    PlainBytes t{};
    for (unsigned c = 0; c < 256; c++) {
        t.content[c] = plain_byte(static_cast<unsigned char>(c), false);
        t.attr[c] = plain_byte(static_cast<unsigned char>(c), true);
    }
    return t;
}

constexpr PlainBytes kPlainBytes = make_plain_bytes();

// Appends text to the line, escaped for element content or for a
// double-quoted attribute value.
void append_escaped(vorel::TextBuffer &line, const char *text, size_t n, bool attr) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    const bool *plain = attr ? kPlainBytes.attr : kPlainBytes.content;
    size_t i = 0;
    while (i < n) {
        size_t run = i;
        while (run < n && plain[p[run]])
            run++;
        line.append(text + i, run - i);
        i = run;
        if (i == n)
            break;
        unsigned char c = p[i];
        size_t seq = 1;
        switch (c) {
        case '&':
            line.append("&amp;");
            break;
        case '<':
            line.append("&lt;");
            break;
        case '>':
            line.append("&gt;");
            break;
        case '"':
            line.append("&quot;");
            break;
        case '\t':
        case '\n':
        case '\r':
            // Inside an attribute a parser would turn them into blanks.
            if (attr) {
                line.append(c == '\t' ? "&#9;" : c == '\n' ? "&#10;" : "&#13;");
            } else {
                line.append(static_cast<char>(c));
            }
            break;
        default:
            seq = c >= 0x80 ? utf8_sequence(p + i, n - i) : 0;
            if (seq) {
                line.append(text + i, seq);
            } else {
                line.append('?');
                seq = 1;
            }
        }
        i += seq;
    }
}

void append_attrs(vorel::TextBuffer &line, const xml_attrs &attrs) {
    for (const auto &a : attrs) {
        if (a.name.empty()) // a nameless attribute cannot be written
            continue;
        line.append(' ');
        line.append(a.name.data(), a.name.size());
        line.append("=\"");
        append_escaped(line, a.value.data(), a.value.size(), true);
        line.append('"');
    }
}

void close_at_exit() {
    if (state().on)
        xml_subtree_unwind();
}

// An element is open (its open tag written): it goes on the stack.
void push(XmlState &s, Open open) {
    if (!s.hook_registered) {
        s.hook_registered = true;
        std::atexit(close_at_exit);
    }
    s.opens.push_back(open);
}

// The element whose open tag the line holds is open.
void push_open(XmlState &s, std::string_view tag) {
    flush_line(s);
    push(s, {nullptr, s.names.size()});
    s.names.append(tag.data(), tag.size());
    s.names += '\0';
}

const char *name_of(const XmlState &s, const Open &open) {
    return open.tag ? open.tag->name() : s.names.data() + open.start;
}

void open_element(const char *tag, const xml_attrs &attrs) {
    XmlState &s = state();
    if (!s.on || !tag)
        return;
    size_t tag_len = std::strlen(tag);
    append_tag_start(s, tag, tag_len);
    append_attrs(s.line, attrs);
    s.line.append(">\n", 2);
    push_open(s, {tag, tag_len});
}

// A fixed tag's open or close text, made once, indented; the line's end
// after it when it has none.
void append_indented(XmlState &s, std::string_view text, bool end_line) {
    size_t blanks = s.opens.size() * 2;
    char *d = s.line.extend(blanks + text.size() + end_line);
    vorel::put_blanks(d, blanks);
    d = vorel::put_text(d + blanks, text);
    if (end_line)
        *d = '\n';
}

void close_innermost(XmlState &s) {
    if (s.opens.empty())
        return;
    Open open = s.opens.back();
    s.opens.pop_back();
    if (open.tag) {
        append_indented(s, open.tag->close_text(), false);
    } else {
        indent(s);
        append_end_tag(s, s.names.data() + open.start, s.names.size() - open.start - 1);
        s.names.resize(open.start);
    }
    flush_line(s);
}

// Formats into the reusable text buffer; the result stays valid until the
// next call.  "%s" alone, the most common leaf format, skips the formatter.
const char *format_text(XmlState &s, const char *fmt, va_list ap, size_t &len) {
    if (!fmt) {
        len = 0;
        return "";
    }
    if (fmt[0] == '%' && fmt[1] == 's' && fmt[2] == '\0') {
        const char *arg = va_arg(ap, const char *);
        if (!arg)
            arg = "(null)";
        len = std::strlen(arg);
        return arg;
    }
    s.text.clear();
    if (fmt[0] == '%' && fmt[1] == 'u' && fmt[2] == '\0') {
        // The other common leaf: a counter.
        vorel::format_unsigned(s.text, va_arg(ap, unsigned));
    } else {
        vorel::format_appendv(s.text, fmt, ap);
    }
    len = s.text.size();
    return s.text.data();
}

void write_leaf(XmlState &s, const char *tag, const xml_attrs *attrs, const char *text,
                size_t len) {
    size_t tag_len = std::strlen(tag);
    append_tag_start(s, tag, tag_len);
    if (attrs)
        append_attrs(s.line, *attrs);
    s.line.append('>');
    append_escaped(s.line, text, len, false);
    append_end_tag(s, tag, tag_len);
    flush_line(s);
}

// Whether any of the 8 bytes of w makes the text need escaping: a byte
// below 0x20 or above 0x7f, '&', '<' or '>' (the content test of
// plain_byte, eight bytes at a time).
constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;

constexpr uint64_t has_byte_below(uint64_t w, uint8_t n) {
    return (w - kOnes * n) & ~w & kHighs;
}

constexpr uint64_t has_byte(uint64_t w, uint8_t c) {
    return has_byte_below(w ^ (kOnes * c), 1);
}

constexpr bool word_needs_escaping(uint64_t w) {
    return ((w & kHighs) | has_byte_below(w, 0x20) | has_byte(w, '&') | has_byte(w, '<') |
            has_byte(w, '>')) != 0;
}

// Whether the n bytes at p need escaping, looked at eight at a time.  The
// caller has room for 8 more bytes after them, where plain bytes are
// stored first, so the last word never reads past what was reserved.
bool needs_escaping(char *p, size_t n) {
    std::memset(p + n, 'a', 8);
    for (size_t i = 0; i < n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (word_needs_escaping(w))
            return true;
    }
    return false;
}

// A leaf of a fixed tag: the whole line is reserved at once and the tags
// copied whole; the text is copied and then checked in place (nearly every
// leaf, numbers, addresses and names, needs no escaping), and only a text
// that does goes through the escaper.
[[gnu::always_inline]] inline void write_tag_leaf(XmlState &s, const xml_tag &tag, const char *text,
                                                  size_t len, bool plain) {
    std::string_view open = tag.open_text(), close = tag.close_text();
    size_t blanks = s.opens.size() * 2;
    size_t head = blanks + open.size();
    size_t at = s.line.size();
    char *d = s.line.extend(head + len + close.size()); // and the buffer's slack after it
    if (blanks <= 16)
        std::memset(d, ' ', 16); // the tag overwrites what is past the blanks
    else
        std::memset(d, ' ', blanks);
    vorel::TextBuffer::put(d + blanks, open.data(), open.size());
    char *t = d + head;
    vorel::TextBuffer::put(t, text, len);
    if (!plain && needs_escaping(t, len)) {
        s.line.truncate(at + head);
        append_escaped(s.line, text, len, false);
        s.line.append(close.data(), close.size());
    } else {
        vorel::TextBuffer::put(t + len, close.data(), close.size());
    }
    flush_line(s);
}

const char *base_name(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash && slash[1] ? slash + 1 : path;
}

} // namespace

void xml_set_mode(bool on) {
    state().on = on;
}

bool xml_mode_on() {
    return state().on;
}

void xml_set_output(FILE *out) {
    XmlState &s = state();
    write_out(s);
    s.out = out;
}

void xml_subtree_open(const char *tag, const xml_attrs &attrs) {
    open_element(tag, attrs);
}

void xml_subtree_close() {
    XmlState &s = state();
    if (s.on)
        close_innermost(s);
}

void xml_subtree_once() {
    XmlState &s = state();
    if (s.on)
        flush_all(s);
}

void xml_send_open(const char *tag, const xml_attrs &attrs) {
    open_element(tag, attrs);
}

void xml_send_close(const char *tag) {
    XmlState &s = state();
    if (!s.on || s.opens.empty())
        return;
    if (!tag) {
        close_innermost(s);
        return;
    }
    // Find the innermost open element of that name; close down to it.
    size_t depth = s.opens.size();
    while (depth > 0 && std::strcmp(name_of(s, s.opens[depth - 1]), tag) != 0)
        depth--;
    if (depth == 0)
        return;
    while (s.opens.size() >= depth)
        close_innermost(s);
}

void xml_send_allv(const char *tag, const char *fmt, va_list ap) {
    XmlState &s = state();
    if (!s.on || !tag)
        return;
    size_t len;
    const char *text = format_text(s, fmt, ap, len);
    write_leaf(s, tag, nullptr, text, len);
}

void xml_send_all(const char *tag, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    xml_send_allv(tag, fmt, ap);
    va_end(ap);
}

void xml_attr_emit(const char *tag, const xml_attrs &attrs, const char *fmt, ...) {
    XmlState &s = state();
    if (!s.on || !tag)
        return;
    va_list ap;
    va_start(ap, fmt);
    size_t len;
    const char *text = format_text(s, fmt, ap, len);
    write_leaf(s, tag, &attrs, text, len);
    va_end(ap);
}

void xml_jxo_data(const char *tag, const char *text) {
    XmlState &s = state();
    if (!s.on || !tag)
        return;
    if (!text)
        text = "";
    write_leaf(s, tag, nullptr, text, std::strlen(text));
}

void xml_send_empty(const char *tag, const xml_attrs &attrs) {
    XmlState &s = state();
    if (!s.on || !tag)
        return;
    indent(s);
    s.line.append('<');
    s.line.append(tag);
    append_attrs(s.line, attrs);
    s.line.append("/>\n");
    flush_line(s);
}

xml_attr xml_attr_style(const char *word) {
    return {"style", word ? word : ""};
}

xml_attr xml_attr_xmlns(const char *ns) {
    return {"xmlns", ns ? ns : XML_NS_ADAPTIVE_SERVICES};
}

xml_attr xml_attribute(const char *name, const char *value) {
    return {name ? name : "", value ? value : ""};
}

void xml_error(const char *program, const char *message) {
    XmlState &s = state();
    if (!s.on)
        return;
    open_element("error", {});
    if (program)
        xml_jxo_data("source-daemon", base_name(program));
    // Messages written for a terminal end with a newline; the element
    // holds the text alone.
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    xml_jxo_data("message", text.c_str());
    close_innermost(s);
    flush_all(s);
}

void xml_subtree_unwind() {
    XmlState &s = state();
    if (!s.on)
        return;
    while (!s.opens.empty())
        close_innermost(s);
    flush_all(s);
}

size_t xml_depth() {
    return state().opens.size();
}

xml_tag::xml_tag(const char *name) : xml_tag(name, {}) {}

xml_tag::xml_tag(const char *name, const xml_attrs &attrs) : name_(name ? name : "") {
    vorel::TextBuffer text;
    append_attrs(text, attrs);
    attrs_ = text.str();
    open_ = "<" + name_ + attrs_ + ">";
    close_ = "</" + name_ + ">\n";
}

void xml_leaf(const xml_tag &tag, std::string_view text) {
    XmlState &s = state();
    if (s.on)
        write_tag_leaf(s, tag, text.data(), text.size(), false);
}

void xml_leaf(const xml_tag &tag, unsigned value) {
    XmlState &s = state();
    if (!s.on)
        return;
    // std::to_chars measured faster than a digit loop (format_choice_bench).
    // Wider than ten digits for the compiler, which sees the copy of 16
    // bytes and more that ten digits never take.
    char digits[32];
    char *end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    write_tag_leaf(s, tag, digits, static_cast<size_t>(end - digits), true);
}

void xml_open(const xml_tag &tag) {
    XmlState &s = state();
    if (!s.on)
        return;
    append_indented(s, tag.open_text(), true);
    flush_line(s);
    push(s, {&tag, 0});
}

void xml_close(const xml_tag &tag) {
    XmlState &s = state();
    if (!s.on || s.opens.empty())
        return;
    // The innermost element is nearly always the one named; any other is
    // closed down to it.
    if (s.opens.back().tag == &tag)
        close_innermost(s);
    else
        xml_send_close(tag.name());
}

// A row needs at least this much room: fewer bytes are not worth
// writing in the stream's buffer; and it reserves as much of the line at
// a time.
constexpr size_t kRowRoom = 512;
// The stores past what is reserved (put_blanks) fall in this much slack.
constexpr size_t kRowSlack = 16;

xml_leaves::xml_leaves() : line_(state().line), start_(line_.size()) {
    const XmlState &s = state();
    on_ = s.on;
    blanks_ = s.opens.size() * 2;
    if (!on_ || !line_.empty())
        return;
    FILE *out = output(s);
    size_t spare;
    char *d = vorel::StreamText(out).room(spare);
    if (spare < kRowRoom + kRowSlack)
        return;
    stream_ = out;
    end_ = d;
    limit_ = d + spare - kRowSlack;
}

xml_leaves::~xml_leaves() {
    if (stream_) {
        vorel::StreamText(stream_).commit(end_);
        return;
    }
    give_back();
    if (on_)
        flush_line(state());
    else
        line_.truncate(start_); // nothing is written
}

void xml_leaves::give_back() {
    line_.truncate(line_.size() - static_cast<size_t>(limit_ - end_));
}

void xml_leaves::hand_over() {
    if (stream_) {
        vorel::StreamText(stream_).commit(end_);
        stream_ = nullptr;
    } else {
        give_back();
    }
    end_ = limit_ = nullptr;
}

// Room for several leaves at once (the put_blanks stores past the blanks
// fall in the buffer's slack).  The stream's buffer, once full, is left for
// the line.
void xml_leaves::reserve(size_t need) {
    hand_over();
    size_t room = need > kRowRoom ? need : kRowRoom;
    end_ = line_.extend(room);
    limit_ = end_ + room;
}

void xml_leaves::open(const xml_tag &tag) {
    if (!on_)
        return;
    char *d = head(tag, 1);
    *d = '\n';
    end_ = d + 1;
    blanks_ += 2;
    push(state(), {&tag, 0});
}

void xml_leaves::close(const xml_tag &tag) {
    XmlState &s = state();
    if (!on_ || s.opens.empty())
        return;
    if (s.opens.back().tag != &tag) {
        // Closing down to it: the general call writes.
        hand_over();
        xml_close(tag);
        blanks_ = s.opens.size() * 2;
        return;
    }
    s.opens.pop_back();
    blanks_ -= 2;
    std::string_view text = tag.close_text();
    size_t need = blanks_ + text.size();
    if (need > static_cast<size_t>(limit_ - end_))
        reserve(need);
    vorel::put_blanks(end_, blanks_);
    end_ = vorel::put_text(end_ + blanks_, text);
}

xml_batch::xml_batch() {
    state().batches++;
}

xml_batch::~xml_batch() {
    XmlState &s = state();
    if (s.batches && --s.batches == 0)
        write_out(s);
}
