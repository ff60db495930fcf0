// The policy match lookup's pieces that tests reach.
#pragma once

#include "vorel/vorel_util.h"

#include <cstdint>

// An address list entry's mask (words in host order): IPv4 uses word 0,
// IPv6 all four.  A wildcard mask is stored inverted (host bits set).
struct match_policy_mask {
    vorel_addr value;
    bool wildcard = false;
};

// True when the mask selects no bits: the entry is a range (low, high).
bool match_policy_mask_is_zero(const match_policy_mask &m);
// The prefix length the mask stands for (24 for 255.255.255.0 and for the
// wildcard 0.0.0.255).
int match_policy_mask_length(const match_policy_mask &m);
