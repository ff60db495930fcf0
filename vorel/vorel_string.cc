#include "vorel/vorel_string.h"

#include "vorel/vorel_error.h"

#include <cstdio>
#include <cstring>

size_t vorel_strlcpy(char *dst, const char *src, size_t size) {
    size_t len = std::strlen(src);
    if (size) {
        size_t n = len < size - 1 ? len : size - 1;
        std::memcpy(dst, src, n);
        dst[n] = '\0';
    }
    return len;
}

const char *vorel_strnstr(const char *haystack, const char *needle, size_t len) {
    size_t nlen = std::strlen(needle);
    if (nlen == 0)
        return haystack;
    size_t hlen = strnlen(haystack, len);
    for (size_t i = 0; i + nlen <= hlen; i++)
        if (std::memcmp(haystack + i, needle, nlen) == 0)
            return haystack + i;
    return nullptr;
}

bool vorel_starts_with(const char *s, const char *prefix) {
    return s && std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

std::string vorel_argument_echo(int argc, char **argv) {
    std::string s;
    for (int i = 0; i < argc; i++)
        s += std::string("vorel: ") + vorel_str_or_null(argv[i]) + " ";
    return s + "\n";
}

void vorel_trace_arguments(int argc, char **argv) {
    if (debug)
        std::fputs(vorel_argument_echo(argc, argv).c_str(), stdout);
}

bool vorel_parse_decimal(const char *s, unsigned long long max, unsigned long long *value) {
    if (!s || !*s)
        return false;
    unsigned long long v = 0;
    for (const char *p = s; *p; p++) {
        if (*p < '0' || *p > '9')
            return false;
        unsigned digit = static_cast<unsigned>(*p - '0');
        if (v > max / 10 || digit > max - v * 10)
            return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}
