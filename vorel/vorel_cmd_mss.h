// The mobile subscriber session command's pieces that tests reach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// True when text is a subscriber identity: 1 to 16 decimal digits.
bool mss_imsi_valid(const char *text);

// The identity in TBCD: 8 bytes of 0xFF, digit i in byte i/2 (even i in the
// low nibble, odd i in the high one).  text must be valid.
void mss_imsi_encode(const char *text, uint8_t out[8]);

// The digits of a TBCD identity: low nibble first, up to the first nibble
// above 9 (the filler 0xF, or anything else that is no digit), at most 16.
std::string mss_imsi_decode(const uint8_t in[8]);
