#include "platform/format.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace vorel {

void TextBuffer::grow(size_t more) {
    size_t room = room_ * 2;
    if (room - len_ < more)
        room = len_ + more;
    std::unique_ptr<char[]> bigger(new char[room]);
    std::memcpy(bigger.get(), buf_.get(), len_);
    buf_ = std::move(bigger);
    room_ = room;
}

namespace {

enum class Length { none, hh, h, l, ll, z, j, t };

// One conversion: its flags, width, precision, length and letter.
struct Conversion {
    bool left;
    bool zero;
    bool width_arg;     // '*'
    bool precision_arg; // ".*"
    int width;
    int precision; // -1: none
    Length length;
    char conversion;
};

// A conversion with nothing given: no flags, no width, no precision.
constexpr Conversion kBlankConversion{false, false, false, false, 0, -1, Length::none, 0};

// Widths beyond this are left to the C library too.
constexpr int kMaxWidth = 4096;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a decimal number at p (at most kMaxWidth); false when it is larger.
bool read_number(const char *&p, int &out) {
    int v = 0;
    while (is_digit(*p)) {
        v = v * 10 + (*p++ - '0');
        if (v > kMaxWidth)
            return false;
    }
    out = v;
    return true;
}

Length read_length(const char *&p) {
    switch (*p) {
    case 'h':
        if (*++p == 'h') {
            p++;
            return Length::hh;
        }
        return Length::h;
    case 'l':
        if (*++p == 'l') {
            p++;
            return Length::ll;
        }
        return Length::l;
    case 'z':
        p++;
        return Length::z;
    case 'j':
        p++;
        return Length::j;
    case 't':
        p++;
        return Length::t;
    default:
        return Length::none;
    }
}

// Parses the conversion after a '%' (p points past it).  Null when the
// conversion is not one done here.
const char *parse_conversion(const char *p, Conversion &s) {
    for (;; p++) {
        if (*p == '-')
            s.left = true;
        else if (*p == '0')
            s.zero = true;
        else
            break;
    }
    if (*p == '*') {
        s.width_arg = true;
        p++;
    } else if (!read_number(p, s.width)) {
        return nullptr;
    }
    if (*p == '.') {
        p++;
        if (*p == '*') {
            s.precision_arg = true;
            p++;
        } else if (!read_number(p, s.precision)) {
            return nullptr;
        }
    }
    s.length = read_length(p);
    s.conversion = *p;
    bool has_precision = s.precision >= 0 || s.precision_arg;
    switch (s.conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
        // An integer precision changes the zero padding: left to the C library.
        return has_precision ? nullptr : p + 1;
    case 's':
        return s.length == Length::none && !s.zero ? p + 1 : nullptr;
    case 'c':
        return s.length == Length::none && !s.zero && !has_precision ? p + 1 : nullptr;
    default:
        return nullptr;
    }
}

// The first '%' or the terminating NUL at or after p.
const char *next_percent(const char *p) {
    while (*p && *p != '%')
        p++;
    return p;
}

// A format taken apart once: runs of literal text, each followed by a
// conversion or by the end of the format.
struct Step {
    uint32_t text_at;
    uint32_t text_len;
    bool has_spec;
    Conversion conversion;
};

struct CompiledFormat {
    const char *address = nullptr;
    std::string text; // the address may come to hold another text
    bool native = false;
    std::vector<Step> steps;
};

// Takes the format apart; native stays false when any conversion is not
// one done here.
void compile(const char *fmt, CompiledFormat &c) {
    c.address = fmt;
    c.text = fmt;
    c.native = false;
    c.steps.clear();
    if (c.text.size() > UINT32_MAX)
        return;
    const char *p = fmt;
    for (;;) {
        const char *pct = next_percent(p);
        Step step{static_cast<uint32_t>(p - fmt), static_cast<uint32_t>(pct - p), false,
                  kBlankConversion};
        if (*pct && pct[1] == '%') {
            // "%%": the literal runs on through one '%'.
            step.text_len++;
            c.steps.push_back(step);
            p = pct + 2;
            continue;
        }
        if (*pct) {
            step.has_spec = true;
            p = parse_conversion(pct + 1, step.conversion);
            if (!p)
                return;
        }
        c.steps.push_back(step);
        if (!*pct)
            break;
    }
    c.native = true;
}

// The read-only segments of the program and its libraries, where string
// literals live: a text there never changes.  They are listed once: the
// program loads no objects after it starts (no dlopen), so the list stays
// true for the whole run.
struct ReadOnlySpans {
    std::vector<std::pair<uintptr_t, uintptr_t>> spans;
    bool holds(const char *p) const {
        auto a = reinterpret_cast<uintptr_t>(p);
        for (const auto &[begin, end] : spans)
            if (a >= begin && a < end)
                return true;
        return false;
    }
};

int note_read_only(dl_phdr_info *info, size_t, void *data) {
    auto *out = static_cast<ReadOnlySpans *>(data);
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_R) && !(ph.p_flags & (PF_W | PF_X))) {
            uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
            out->spans.emplace_back(begin, begin + ph.p_memsz);
        }
    }
    return 0;
}

const ReadOnlySpans &read_only_spans() {
    static const ReadOnlySpans *spans = [] {
        auto *found = new ReadOnlySpans;
        dl_iterate_phdr(note_read_only, found);
        return found;
    }();
    return *spans;
}

// Renderers print the same few formats over and over: each is taken apart
// once and kept in a small cache by its address.  A format in writable
// memory is checked against the text kept, in case the address now holds
// another format; a literal (read-only memory) cannot have changed.
constexpr size_t kCachedFormats = 64;

struct CacheEntry {
    CompiledFormat format;
    bool fixed = false; // the address is in read-only memory
};

const CompiledFormat &compiled(const char *fmt) {
    static CacheEntry *cache = new CacheEntry[kCachedFormats];
    CacheEntry &e = cache[(reinterpret_cast<uintptr_t>(fmt) >> 3) % kCachedFormats];
    if (e.format.address == fmt && (e.fixed || std::strcmp(e.format.text.c_str(), fmt) == 0))
        return e.format;
    compile(fmt, e.format);
    e.fixed = read_only_spans().holds(fmt);
    return e.format;
}

long long signed_arg(Length len, va_list &ap) {
    switch (len) {
    case Length::hh:
        return static_cast<signed char>(va_arg(ap, int));
    case Length::h:
        return static_cast<short>(va_arg(ap, int));
    case Length::l:
        return va_arg(ap, long);
    case Length::ll:
        return va_arg(ap, long long);
    case Length::z:
        return va_arg(ap, ssize_t);
    case Length::j:
        return va_arg(ap, intmax_t);
    case Length::t:
        return va_arg(ap, ptrdiff_t);
    default:
        return va_arg(ap, int);
    }
}

unsigned long long unsigned_arg(Length len, va_list &ap) {
    switch (len) {
    case Length::hh:
        return static_cast<unsigned char>(va_arg(ap, unsigned));
    case Length::h:
        return static_cast<unsigned short>(va_arg(ap, unsigned));
    case Length::l:
        return va_arg(ap, unsigned long);
    case Length::ll:
        return va_arg(ap, unsigned long long);
    case Length::z:
        return va_arg(ap, size_t);
    case Length::j:
        return va_arg(ap, uintmax_t);
    case Length::t:
        return static_cast<size_t>(va_arg(ap, ptrdiff_t));
    default:
        return va_arg(ap, unsigned);
    }
}

// Text padded to the width with blanks, on the left unless `left`.
inline void append_padded(TextBuffer &out, const char *text, size_t len, const Conversion &s) {
    size_t width = static_cast<size_t>(s.width);
    size_t pad = width > len ? width - len : 0;
    char *d = out.extend(len + pad);
    char *blanks = s.left ? d + len : d;
    if (pad <= 16)
        std::memset(blanks, ' ', 16); // the rest goes into the slack, or is overwritten next
    else
        std::memset(blanks, ' ', pad);
    TextBuffer::put(s.left ? d : d + pad, text, len);
}

// A number in base 10 or 16: its digits, a sign, and padding (zeros after the sign with '0'
// unless '-' is given, blanks otherwise).
void append_number(TextBuffer &out, unsigned long long v, bool negative, unsigned base, bool upper,
                   const Conversion &s) {
    char buf[24];
    char *end = buf + sizeof buf;
    char *p = end;
    if (base == 10) {
        // A constant divisor: the compiler multiplies instead of dividing.
        do {
            *--p = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
    } else {
        const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
        do {
            *--p = digits[v & 15];
            v >>= 4;
        } while (v);
    }
    size_t len = static_cast<size_t>(end - p) + (negative ? 1 : 0);
    size_t width = static_cast<size_t>(s.width);
    size_t pad = width > len ? width - len : 0;
    if (pad && !s.left && !s.zero)
        out.fill(' ', pad);
    if (negative)
        out.append('-');
    if (pad && !s.left && s.zero)
        out.fill('0', pad);
    out.append(p, static_cast<size_t>(end - p));
    if (pad && s.left)
        out.fill(' ', pad);
}

void append_value(TextBuffer &out, const Conversion &s, va_list &ap);

// A conversion as compiled, its '*' width and precision taken from the
// arguments first.  The compiled step is used in place unless it has a '*'
// (a copy per conversion is measurable in a million-line table).
void append_conversion(TextBuffer &out, const Conversion &compiled_conversion, va_list &ap) {
    if (!compiled_conversion.width_arg && !compiled_conversion.precision_arg) {
        append_value(out, compiled_conversion, ap);
        return;
    }
    Conversion s = compiled_conversion;
    if (s.width_arg) {
        int w = va_arg(ap, int);
        if (w < 0) {
            s.left = true;
            w = w == INT_MIN ? INT_MAX : -w;
        }
        s.width = w;
    }
    if (s.precision_arg) {
        int prec = va_arg(ap, int);
        s.precision = prec < 0 ? -1 : prec;
    }
    append_value(out, s, ap);
}

void append_value(TextBuffer &out, const Conversion &s, va_list &ap) {
    switch (s.conversion) {
    case 's': {
        const char *text = va_arg(ap, const char *);
        size_t len;
        if (!text) {
            // As the C library prints a null text.
            text = s.precision < 0 || s.precision >= 6 ? "(null)" : "";
            len = std::strlen(text);
        } else {
            len = s.precision < 0 ? std::strlen(text)
                                  : strnlen(text, static_cast<size_t>(s.precision));
        }
        append_padded(out, text, len, s);
        break;
    }
    case 'c': {
        char c = static_cast<char>(va_arg(ap, int));
        append_padded(out, &c, 1, s);
        break;
    }
    case 'd':
    case 'i': {
        long long v = signed_arg(s.length, ap);
        unsigned long long magnitude =
            v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        append_number(out, magnitude, v < 0, 10, false, s);
        break;
    }
    case 'u':
        append_number(out, unsigned_arg(s.length, ap), false, 10, false, s);
        break;
    default: // 'x', 'X'
        append_number(out, unsigned_arg(s.length, ap), false, 16, s.conversion == 'X', s);
        break;
    }
}

void append_with_c_library(TextBuffer &out, const char *fmt, va_list ap) {
    va_list again;
    va_copy(again, ap);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, fmt, ap);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
    } else if (n > 0) {
        std::unique_ptr<char[]> big(new char[static_cast<size_t>(n) + 1]);
        std::vsnprintf(big.get(), static_cast<size_t>(n) + 1, fmt, again);
        out.append(big.get(), static_cast<size_t>(n));
    }
    va_end(again);
}

} // namespace

bool format_is_native(const char *fmt) {
    return fmt && compiled(fmt).native;
}

void format_appendv(TextBuffer &out, const char *fmt, va_list ap) {
    if (!fmt)
        return;
    const CompiledFormat &c = compiled(fmt);
    if (!c.native) {
        append_with_c_library(out, fmt, ap);
        return;
    }
    const char *text = c.text.data();
    va_list args;
    va_copy(args, ap);
    for (const Step &step : c.steps) {
        out.append(text + step.text_at, step.text_len);
        if (step.has_spec)
            append_conversion(out, step.conversion, args);
    }
    va_end(args);
}

// A width as the conversion keeps it (an int; no column is that wide).
[[maybe_unused]] int column_width(size_t width) {
    return static_cast<int>(width < size_t{INT_MAX} ? width : size_t{INT_MAX});
}

TextBuffer &StreamText::spill_text() {
    static TextBuffer *text = new TextBuffer;
    return *text;
}

int write_stdout(const TextBuffer &text) {
    if (text.empty())
        return 0;
    if (fwrite_unlocked(text.data(), 1, text.size(), stdout) != text.size())
        return -1;
    return static_cast<int>(text.size());
}

// A table of 10^6 entries is hundreds of megabytes: into a pipe of the
// kernel's default 64 KiB, every 64 KiB written waits for the reader to
// wake and drain it.  A pipe of 1 MiB cuts those switches sixteenfold.
// Where the kernel refuses (the user's pipe quota, its pipe-max-size) only
// speed depends on it.
void widen_stdout_pipe() {
    constexpr int kPipeBytes = 1 << 20;
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    int now = fcntl(STDOUT_FILENO, F_GETPIPE_SZ);
    if (now >= 0 && now < kPipeBytes)
        (void)fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeBytes);
}

void format_append(TextBuffer &out, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    format_appendv(out, fmt, ap);
    va_end(ap);
}

std::string format_string(const char *fmt, ...) {
    TextBuffer out;
    va_list ap;
    va_start(ap, fmt);
    format_appendv(out, fmt, ap);
    va_end(ap);
    return out.str();
}

} // namespace vorel

namespace {

// The text of the latest call.  Cleared, never freed.
vorel::TextBuffer &scratch() {
    static vorel::TextBuffer *text = new vorel::TextBuffer;
    text->clear();
    return *text;
}

} // namespace

int vorel_vfprintf(FILE *out, const char *fmt, va_list ap) {
    vorel::TextBuffer &text = scratch();
    vorel::format_appendv(text, fmt, ap);
    if (text.empty())
        return 0;
    if (fwrite_unlocked(text.data(), 1, text.size(), out) != text.size())
        return -1;
    return static_cast<int>(text.size());
}

int vorel_printf(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vorel_vfprintf(stdout, fmt, ap);
    va_end(ap);
    return n;
}

int vorel_snprintf(char *buf, size_t size, const char *fmt, ...) {
    vorel::TextBuffer &text = scratch();
    va_list ap;
    va_start(ap, fmt);
    vorel::format_appendv(text, fmt, ap);
    va_end(ap);
    if (size > 0) {
        size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buf, text.data(), n);
        buf[n] = '\0';
    }
    return static_cast<int>(text.size());
}
