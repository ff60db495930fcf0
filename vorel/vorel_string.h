// Bounded string helpers with the BSD semantics the program relies on.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Copies at most size - 1 bytes of src into dst and always terminates it
// (when size > 0). Returns the length of src, so a result >= size means
// the copy was cut.
size_t vorel_strlcpy(char *dst, const char *src, size_t size);
// The first occurrence of needle in the first len bytes of haystack (the
// search also stops at haystack's NUL); null when absent.
const char *vorel_strnstr(const char *haystack, const char *needle, size_t len);
// The text itself, or "NULL" for a missing text: traces never hand a null
// pointer to %s.
inline const char *vorel_str_or_null(const char *s) {
    return s ? s : "NULL";
}
// True when s begins with prefix.
bool vorel_starts_with(const char *s, const char *prefix);

// An optional text (a value from the command line that may be absent) as
// the C-style calls take it: its characters, or null when absent.
inline const char *vorel_text(const std::optional<std::string> &s) {
    return s ? s->c_str() : nullptr;
}
// True when the text is given and equals s (a null s equals nothing).
inline bool vorel_text_is(const std::optional<std::string> &text, const char *s) {
    return text && s && *text == s;
}

// The argument vector as a handler echoes a command line it does not
// understand: "vorel: WORD " for every word (the blank keeps the words
// apart), then a newline.  Debug traces echo the same way.
std::string vorel_argument_echo(int argc, char **argv);
// The same as the debug trace prints it (every word followed by a space).
void vorel_trace_arguments(int argc, char **argv);
// A whole decimal number from a command line word: digits only (no sign,
// no blank, not empty), at most max.  False otherwise, *value unchanged.
bool vorel_parse_decimal(const char *s, unsigned long long max, unsigned long long *value);
