// XML output to the management process.
//
// Output goes to standard output (through stdio, so it interleaves in
// order with text written by printf).  Every call writes nothing unless XML
// mode is on (xml_set_mode), so renderers may call them in both modes.
// Elements are indented two blanks per level; text and attribute values are
// escaped (& < > and, in attributes, " and line breaks), and bytes that
// would make the document ill-formed (control characters other than tab,
// newline and carriage return; malformed UTF-8) are written as '?'.
// Whenever the process exits in XML mode, every element still
// open is closed, so the output is always well formed.
//
//   <service-set-summary-information style="summary">
//     <interface-name>ms-1/0/0</interface-name>
//   </service-set-summary-information>
//
// An error is an element naming the program:
//   <error>
//     <source-daemon>vorel</source-daemon>
//     <message>text</message>
//   </error>
#pragma once

#include "platform/format.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// One attribute of an element being opened.
struct xml_attr {
    std::string name;
    std::string value;
};
using xml_attrs = std::vector<xml_attr>;

// The adaptive-services namespace that some commands attach to their root.
constexpr const char *XML_NS_ADAPTIVE_SERVICES = "urn:vorel:xml:adaptive-services";

void xml_set_mode(bool on);
bool xml_mode_on();
// Where output goes (standard output unless a test says otherwise; null
// restores standard output).  Elements still open stay open.
void xml_set_output(FILE *out);

// Opens the root element of a top-level subtree.
void xml_subtree_open(const char *tag, const xml_attrs &attrs = {});
// Closes the innermost open element (ignored when none is open).
void xml_subtree_close();
// Marks the current top-level subtree complete: its output is flushed.
void xml_subtree_once();
// Opens and closes nested elements.  A close names the element it expects
// to close: every element opened inside it is closed first.  A close with
// nothing open, or naming an element that is not open, is ignored; a null
// name closes the innermost element.
void xml_send_open(const char *tag, const xml_attrs &attrs = {});
void xml_send_close(const char *tag);
// Writes a leaf: <tag>formatted text</tag>.
void xml_send_all(const char *tag, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void xml_send_allv(const char *tag, const char *fmt, va_list ap);
// A leaf with literal text (no formatting).
void xml_jxo_data(const char *tag, const char *text);
// An empty element <tag/>.
void xml_send_empty(const char *tag, const xml_attrs &attrs = {});
// A leaf with attributes: <tag name="value">formatted text</tag>.
void xml_attr_emit(const char *tag, const xml_attrs &attrs, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// An element name fixed when the program is written, with its tags made
// once: for the leaves of a table that may hold millions of entries.
// Declare it once (a constant at namespace scope, as the program's are:
// an element opened with it refers to it until closed, at the latest by
// the exit hook), write with the calls below; the output is the same as
// with the name given to xml_send_* (a text is written whole, as a
// string_view: a NUL byte in it is written as '?', where "%s" would stop
// there).
class xml_tag {
  public:
    explicit xml_tag(const char *name);
    // An element that always has the same attributes (a table's heading):
    // their text is made once too.
    xml_tag(const char *name, const xml_attrs &attrs);
    const char *name() const { return name_.c_str(); }
    std::string_view name_view() const { return name_; }
    std::string_view open_text() const { return open_; }   // "<name attrs>"
    std::string_view close_text() const { return close_; } // "</name>\n"
    std::string_view attrs_text() const { return attrs_; } // ` a="v"`, escaped

  private:
    std::string name_, attrs_, open_, close_;
};
// <tag>text</tag>, the text escaped.
void xml_leaf(const xml_tag &tag, std::string_view text);
// <tag>value</tag>, as "%u" prints it.
void xml_leaf(const xml_tag &tag, unsigned value);
// Any other number would be converted silently (a char printed as its
// code, a 64-bit count cut): say which one is meant.
template <class T>
requires std::is_arithmetic_v<T>
void xml_leaf(const xml_tag &tag, T value) = delete;
// The same as xml_send_open(tag.name(), its attributes) and
// xml_send_close(tag.name()).
void xml_open(const xml_tag &tag);
void xml_close(const xml_tag &tag);

// While a batch is open, the lines written reach the stream together when
// it ends, in one write (a flow entry is a dozen lines), or, when a row of
// leaves begins with nothing held, straight into the stream's buffer.
// Only calls of this file may write standard output while it is open; an
// error element or a flush writes what the batch holds first.  Batches nest.
class xml_batch {
  public:
    xml_batch();
    ~xml_batch();
    xml_batch(const xml_batch &) = delete;
    xml_batch &operator=(const xml_batch &) = delete;
};

// The leaves of one element, and the fixed-tag elements around them,
// written in a row, for the entries of tables that hold millions (a flow
// entry): each leaf is three copies and a capacity check, no call.  When
// nothing is held back (no line built, no batch holding lines), the row is
// stored straight into the stream's buffer where it has room, else into
// the line buffer; either way it goes out whole, so it needs no batch (a
// batch around a flow entry's row cost it 4 %).  The leaves' texts are the
// program's own (digits, addresses, names from its tables), with nothing
// to escape: they are written unchecked.  While it lives no other call of
// this file may be made; it writes nothing unless XML mode is on.
class xml_leaves {
  public:
    xml_leaves();
    ~xml_leaves();
    xml_leaves(const xml_leaves &) = delete;
    xml_leaves &operator=(const xml_leaves &) = delete;

    [[gnu::always_inline]] void leaf(const xml_tag &tag, std::string_view text) {
        std::string_view close = tag.close_text();
        char *d = head(tag, text.size() + close.size());
        end_ = vorel::put_text(vorel::put_text(d, text), close);
    }
    // As "%u" prints it.
    [[gnu::always_inline]] void leaf(const xml_tag &tag, unsigned value) {
        std::string_view close = tag.close_text();
        char *d = head(tag, 10 + close.size());
        end_ = vorel::put_text(std::to_chars(d, d + 10, value).ptr, close);
    }
    template <class T>
    requires std::is_arithmetic_v<T>
    void leaf(const xml_tag &tag, T value) = delete;
    // As xml_open and xml_close: the leaves between them are the element's.
    void open(const xml_tag &tag);
    void close(const xml_tag &tag);

  private:
    // The stores are noexcept (a failed allocation ends the program), so
    // that a leaf inlined into its caller is straight code.
    // The indented open tag at the end, room for the rest after it.  The
    // members and the tag's texts are read before the first store, which
    // the compiler must assume may change them.
    [[gnu::always_inline]] char *head(const xml_tag &tag, size_t rest) noexcept {
        std::string_view open = tag.open_text();
        size_t blanks = blanks_, need = blanks + open.size() + rest;
        char *d = end_;
        if (need > static_cast<size_t>(limit_ - d)) {
            reserve(need);
            d = end_;
        }
        vorel::put_blanks(d, blanks);
        return vorel::put_text(d + blanks, open);
    }
    void reserve(size_t need);
    // What was reserved and not written is given back.
    void give_back();
    // What was written is handed over (to the stream or to the line), so
    // that another call of this file may write; the next store reserves.
    void hand_over();

    vorel::TextBuffer &line_;
    FILE *stream_ = nullptr; // the stream whose buffer is written; null: the line
    size_t start_, blanks_;
    bool on_;
    char *end_ = nullptr, *limit_ = nullptr;
};

// Attribute makers.
xml_attr xml_attr_style(const char *word);
xml_attr xml_attr_xmlns(const char *ns = XML_NS_ADAPTIVE_SERVICES);
xml_attr xml_attribute(const char *name, const char *value);

// Writes an error element naming the program (the last component of the
// path it is given; no source-daemon element when null) with the message,
// inside whatever is open, and flushes it.
void xml_error(const char *program, const char *message);
// Closes every open element (the output stays well formed) and flushes.
void xml_subtree_unwind();
// How many elements are open (tests).
size_t xml_depth();
