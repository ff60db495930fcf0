// printf-style formatting for the renderers, without the cost of the C
// library's general formatter.
//
// A flow table prints a million lines of a few fixed-width fields each; the
// C library's printf spends most of that time in its general machinery
// (locale, positional arguments, a stream lock per call).  These functions
// produce exactly the text printf would, and do the common conversions
// themselves: %s %c %d %i %u %x %X and %%, with the flags '-' and '0', a
// width (digits or *), a precision for %s, and the lengths hh h l ll z j t.
// A format that asks for anything else (floating point, %p, '+', '#', an
// integer precision, ...) is handed to the C library whole, so every
// format works and prints the same text.
#pragma once

#include <charconv>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace vorel {

// A growable text buffer whose appends cost a bounds check and a copy.
// Cleared, it keeps its room, so a buffer reused line after line stops
// allocating once it has grown to the longest line.
//
// Output is built from many short pieces (a tag, a field, a few blanks):
// pieces of up to 32 bytes are copied inline rather than through memcpy,
// and the buffer keeps 16 bytes of slack past the text so that a fill may
// store whole words.
class TextBuffer {
  public:
    TextBuffer() : buf_(new char[kInitialRoom]), room_(kInitialRoom) {}

    void append(const char *p, size_t n) { put(extend(n), p, n); }
    void append(const char *text) { append(text, std::strlen(text)); }
    void append(char c) {
        reserve(1);
        buf_[len_++] = c;
    }
    // n copies of c.
    void fill(char c, size_t n) {
        reserve(n);
        char *d = buf_.get() + len_;
        if (n <= 16)
            std::memset(d, c, 16); // within the slack
        else
            std::memset(d, c, n);
        len_ += n;
    }
    // Room for n more bytes, counted as written: the caller stores them
    // at the pointer returned (and may store up to 16 bytes past them,
    // into the slack).
    char *extend(size_t n) {
        reserve(n);
        char *d = buf_.get() + len_;
        len_ += n;
        return d;
    }
    // Copies n bytes, inline when n <= 32.
    static void put(char *d, const char *p, size_t n) noexcept {
        if (n <= 32)
            copy_short(d, p, n);
        else
            std::memcpy(d, p, n);
    }
    // Appends what put(d) stores at d, at most room bytes; put returns
    // the end of what it stored.
    template <class Put> void append_by(size_t room, Put put) {
        char *d = extend(room);
        len_ += static_cast<size_t>(put(d) - d) - room;
    }
    void clear() { len_ = 0; }
    // Cuts the text back to its first n bytes (n <= size()).
    void truncate(size_t n) { len_ = n < len_ ? n : len_; }

    const char *data() const { return buf_.get(); }
    size_t size() const { return len_; }
    bool empty() const { return len_ == 0; }
    std::string str() const { return std::string(buf_.get(), len_); }

  private:
    static constexpr size_t kInitialRoom = 256;
    static constexpr size_t kSlack = 16;

    // Room for n more bytes and the slack after them.
    void reserve(size_t n) {
        if (n + kSlack > room_ - len_)
            grow(n + kSlack);
    }
    void grow(size_t more);

    // Copies n <= 32 bytes with at most two overlapping loads of a fixed
    // size, which the compiler makes into plain moves.
    static void copy_short(char *d, const char *p, size_t n) noexcept {
        if (n >= 16) {
            std::memcpy(d, p, 16);
            std::memcpy(d + n - 16, p + n - 16, 16);
        } else if (n >= 8) {
            std::memcpy(d, p, 8);
            std::memcpy(d + n - 8, p + n - 8, 8);
        } else if (n >= 4) {
            std::memcpy(d, p, 4);
            std::memcpy(d + n - 4, p + n - 4, 4);
        } else if (n > 0) {
            d[0] = p[0];
            d[n / 2] = p[n / 2];
            d[n - 1] = p[n - 1];
        }
    }

    std::unique_ptr<char[]> buf_;
    size_t room_;
    size_t len_ = 0;
};

// Text stored straight into a stream's own buffer, for the lines of a
// table of millions: one copy instead of two (a buffer, then fwrite), and
// no call per line.  The C library's FILE keeps its write pointers in the
// open (its putc_unlocked macro stores through them): a fully buffered
// stream spares the rest of its buffer; a line-buffered or unbuffered one
// spares nothing, and there, or when the buffer is too full, the text goes
// through a buffer and fwrite, as before.  What other writers put in the
// stream stays in order, since it is one buffer.
class StreamText {
  public:
    explicit StreamText(FILE *stream) noexcept : stream_(stream) {}

    // As TextBuffer::append_by: put stores at most room bytes (and up to
    // the slack past them) and returns their end.
    template <class Put> void append_by(size_t room, Put put) {
        if (char *d = room_for(room + kSlack)) {
            commit(put(d));
            return;
        }
        TextBuffer &spill = spill_text();
        spill.clear();
        spill.append_by(room, put);
        fwrite_unlocked(spill.data(), 1, spill.size(), stream_);
    }

    // For a writer that stores many pieces there itself (the XML
    // writer's rows of leaves): where the next byte goes in the stream's
    // buffer, and how many bytes the stream spares after it (0: none).
    // Stores there become the stream's text only through commit, and no
    // other writer may write the stream in between.
    char *room(size_t &n) const noexcept {
#if defined(__GLIBC__)
        char *d = stream_->_IO_write_ptr, *end = stream_->_IO_write_end;
        n = d && end > d ? static_cast<size_t>(end - d) : 0;
        return d;
#else
        n = 0;
        return nullptr;
#endif
    }
    // The stream's text ends at end now (within the room given).
    void commit(char *end) noexcept {
#if defined(__GLIBC__)
        stream_->_IO_write_ptr = end;
#else
        (void)end;
#endif
    }

  private:
    static constexpr size_t kSlack = 16;

    char *room_for(size_t n) const noexcept {
        size_t spare;
        char *d = room(spare);
        return spare >= n ? d : nullptr;
    }
    static TextBuffer &spill_text();

    FILE *stream_;
};

// Appends the formatted text to out.
void format_appendv(TextBuffer &out, const char *fmt, va_list ap);
void format_append(TextBuffer &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Appends v in decimal, as "%llu" would (std::to_chars, inline: a detail
// or session line has several).
inline void format_unsigned(TextBuffer &out, unsigned long long v) {
    char digits[20];
    char *end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}
// Fixed-width columns, for lines printed millions of times, where even a
// compiled format's steps show: each appends exactly what the printf
// conversion named appends (a text longer than the width is not cut).
// Inline, so that a constant width folds into the caller.
//
// n blanks at d in 16-byte stores: what lies past them is overwritten by
// the text, or lies in the buffer's slack.
inline void put_blanks(char *d, size_t n) noexcept {
    std::memset(d, ' ', 16); // nearly always all there is
    for (size_t i = 16; i < n; i += 16)
        std::memset(d + i, ' ', 16);
}
// The columns stored at d, which has room for the width and the text (and
// the slack after them); each returns the end.  A line of columns reserves
// its room once (TextBuffer::append_by) and stores through one pointer:
// appends to the buffer itself would reload its end after every store.
inline char *put_text(char *d, std::string_view text) noexcept {
    TextBuffer::put(d, text.data(), text.size());
    return d + text.size();
}
inline char *put_right(char *d, std::string_view text, size_t width) noexcept { // "%*s"
    size_t pad = width > text.size() ? width - text.size() : 0;
    put_blanks(d, pad);
    return put_text(d + pad, text);
}
inline char *put_left(char *d, std::string_view text, size_t width) noexcept { // "%-*s"
    size_t pad = width > text.size() ? width - text.size() : 0;
    d = put_text(d, text);
    put_blanks(d, pad);
    return d + pad;
}
inline char *put_unsigned(char *d, unsigned long long v) noexcept { // "%llu"
    return std::to_chars(d, d + 20, v).ptr;
}
// The number of decimal digits of v.
inline size_t decimal_digits(unsigned long long v) noexcept {
    size_t n = 1;
    for (;;) {
        if (v < 10)
            return n;
        if (v < 100)
            return n + 1;
        if (v < 1000)
            return n + 2;
        if (v < 10000)
            return n + 3;
        v /= 10000;
        n += 4;
    }
}
inline char *put_unsigned_right(char *d, unsigned long long v, size_t width) noexcept { // "%*llu"
    // The digits go straight to their place: digits stored elsewhere and
    // copied would be read back before their stores are done, which stalls
    // the copy (std::to_chars stores two digits at a time).  std::to_chars
    // measured faster than a digit loop and than {fmt}
    // (bench/format_choice_bench.cc).
    size_t n = decimal_digits(v), pad = width > n ? width - n : 0;
    put_blanks(d, pad);
    return std::to_chars(d + pad, d + pad + n, v).ptr;
}
inline void append_right(TextBuffer &out, const char *text, size_t len, size_t width) { // "%*s"
    put_right(out.extend(width > len ? width : len), {text, len}, width);
}
inline void append_left(TextBuffer &out, const char *text, size_t len, size_t width) { // "%-*s"
    put_left(out.extend(width > len ? width : len), {text, len}, width);
}
inline void append_unsigned_right(TextBuffer &out, unsigned long long v, size_t width) { // "%*llu"
    out.append_by(width + 20, [&](char *d) noexcept { return put_unsigned_right(d, v, width); });
}
// Writes the text to standard output (without the stream's lock, as
// vorel_printf does); -1 when the stream refuses it.
int write_stdout(const TextBuffer &text);
// Gives standard output, when it is a pipe, room for 1 MiB (never less
// than it has); a pipe the kernel will not widen stays as it is.
void widen_stdout_pipe();
// The formatted text as a string (tests and cold paths).
std::string format_string(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// True when the format is done here without the C library (tests).
bool format_is_native(const char *fmt);

} // namespace vorel

// printf to standard output through the formatter above.  The program has
// one thread writing standard output, so the stream is written without
// taking its lock.  Returns the number of bytes written, or -1.
int vorel_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int vorel_vfprintf(FILE *out, const char *fmt, va_list ap);
// snprintf through the formatter: at most size - 1 bytes and a NUL (when
// size > 0); returns the length of the whole text.
int vorel_snprintf(char *buf, size_t size, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
