#include "vorel/vorel_ifd.h"

#include "platform/bytes.h"
#include "vorel/vorel_ams_util.h"

#include <cerrno>

int vorel_ifd_fetch_by_name(rtslib_handle *h, const std::string &name, owned_ifd &r) {
    size_t len = 0;
    r.reset();
    int rc = rtslib_ifdm_get_by_name(h, name.c_str(), RTSLIB_OP_GET, &r.rec, &len);
    if (rc == 0 && !r.rec)
        rc = ENOENT;
    return rc;
}

int vorel_ifd_fetch_by_index(rtslib_handle *h, uint16_t index, owned_ifd &r) {
    size_t len = 0;
    r.reset();
    int rc = rtslib_ifdm_get_by_index(h, index, RTSLIB_OP_GET, &r.rec, &len);
    if (rc == 0 && !r.rec)
        rc = ENOENT;
    return rc;
}

bool vorel_ifd_lb_options(const rtslib_ifd_record &ifd, rtslib_lb_options &lb) {
    const rtslib_attr *a = ams_get_load_balancing_options_from_ifdm(&ifd);
    return a && rtslib_lb_decode(vorel::ByteReader(a->value), lb);
}
