// Interface records read from the kernel: a record owned until the caller
// leaves, the lookups by name and index, and the load-balancing options
// of a bundle's record.  Shared by the snapshot loader and the commands
// that read interfaces themselves.
#pragma once

#include "platform/rtslib.h"

#include <string>

// A kernel record released however the caller leaves.
template <typename Rec> struct owned_record {
    explicit owned_record(rtslib_handle *h) : h(h) {}
    ~owned_record() { reset(); }
    owned_record(const owned_record &) = delete;
    owned_record &operator=(const owned_record &) = delete;
    void reset() {
        if (rec)
            rtslib_msg_idl_release(h, rec);
        rec = nullptr;
    }
    Rec *operator->() const { return rec; }
    rtslib_handle *h;
    Rec *rec = nullptr;
};
using owned_ifd = owned_record<rtslib_ifd_record>;

// Fetches an interface by name or index into r; 0 or the query's error
// number (ENOENT when the kernel has no such interface).
int vorel_ifd_fetch_by_name(rtslib_handle *h, const std::string &name, owned_ifd &r);
int vorel_ifd_fetch_by_index(rtslib_handle *h, uint16_t index, owned_ifd &r);

// The load-balancing options (attribute 305) of a record; false when it
// has none or they do not decode.
bool vorel_ifd_lb_options(const rtslib_ifd_record &ifd, rtslib_lb_options &lb);
