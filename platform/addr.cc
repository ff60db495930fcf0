#include "platform/addr.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

// The prefix length after the slash: decimal digits only, up to max.
bool parse_length(const char *s, int max, int &out) {
    if (!*s)
        return false;
    int v = 0;
    for (; *s; s++) {
        if (*s < '0' || *s > '9')
            return false;
        v = v * 10 + (*s - '0');
        if (v > max)
            return false;
    }
    out = v;
    return true;
}

} // namespace

bool parse_ipaddr(const char *text, ipaddr_t *out) {
    if (!text || !out)
        return false;
    const char *slash = std::strchr(text, '/');
    size_t addr_len = slash ? static_cast<size_t>(slash - text) : std::strlen(text);
    char addr_text[INET6_ADDRSTRLEN];
    if (addr_len == 0 || addr_len >= sizeof addr_text)
        return false;
    std::memcpy(addr_text, text, addr_len);
    addr_text[addr_len] = '\0';

    ipaddr_t a;
    if (inet_pton(AF_INET, addr_text, a.addr) == 1)
        a.family = AF_INET;
    else if (inet_pton(AF_INET6, addr_text, a.addr) == 1)
        a.family = AF_INET6;
    else
        return false;
    if (slash && !parse_length(slash + 1, a.family == AF_INET ? 32 : 128, a.prefix_len))
        return false;
    *out = a;
    return true;
}

const char *format_ipaddr(int family, const void *addr, char *buf, size_t size) {
    if (!buf || size == 0)
        return nullptr;
    buf[0] = '\0';
    if (!addr || (family != AF_INET && family != AF_INET6))
        return nullptr;
    if (!inet_ntop(family, addr, buf, static_cast<socklen_t>(size))) {
        buf[0] = '\0';
        return nullptr;
    }
    return buf;
}
