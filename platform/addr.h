// Address text: IPv4 and IPv6 addresses with an optional prefix length.
#pragma once

#include <cstddef>
#include <cstdint>

struct ipaddr_t {
    int family = 0;        // AF_INET or AF_INET6
    uint8_t addr[16] = {}; // network order; IPv4 in the first four bytes, the rest zero
    int prefix_len = -1;   // -1 when the text gave none
};

// Parses "ADDRESS" or "ADDRESS/LEN" (dotted quad or standard IPv6 text;
// LEN decimal digits, at most 32 for IPv4 and 128 for IPv6).  false on any
// syntax error, with *out untouched.
bool parse_ipaddr(const char *text, ipaddr_t *out);

// Standard text of an address of family AF_INET or AF_INET6 (4 or 16
// bytes at addr) into buf: buf, or null when the family is unknown or the
// text does not fit (buf then holds "").
const char *format_ipaddr(int family, const void *addr, char *buf, size_t size);
