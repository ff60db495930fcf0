#include "vorel/vorel_ams_util.h"

#include "vorel/vorel_string.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Writes prefix + the name after its first skip characters, cut to fit.
void rename_prefix(const char *name, size_t skip, const char *prefix, char out[AMS_NAME_LEN]) {
    char buf[AMS_NAME_LEN * 2];
    std::snprintf(buf, sizeof buf, "%s%s", prefix, name + skip);
    vorel_strlcpy(out, buf, AMS_NAME_LEN);
}

// Opens a handle when the caller gave none; closes only what it opened.
struct handle_guard {
    explicit handle_guard(rtslib_handle *given)
        : h(given ? given : rtslib_open(3)), owned(!given) {}
    ~handle_guard() {
        if (owned && h)
            rtslib_close(h);
    }
    rtslib_handle *h;
    bool owned;
};

// Releases a record however the lookup ended.
struct record_guard {
    record_guard(rtslib_handle *h) : h(h) {}
    ~record_guard() {
        if (rec)
            rtslib_msg_idl_release(h, rec);
    }
    rtslib_handle *h;
    rtslib_ifd_record *rec = nullptr;
};

} // namespace

void vorel_mams_name_of_ms(const char *name, uint8_t *flag, char out[AMS_NAME_LEN]) {
    *flag = 0;
    std::memset(out, 0, AMS_NAME_LEN);
    if (name && std::strncmp(name, "ms", 2) == 0) {
        rename_prefix(name, 2, "mams", out);
        *flag = 1;
    }
}

void vorel_ms_name_of_mams(const char *name, uint8_t *flag, char out[AMS_NAME_LEN]) {
    *flag = 0;
    std::memset(out, 0, AMS_NAME_LEN);
    if (name && std::strncmp(name, "mams", 4) == 0) {
        rename_prefix(name, 4, "ms", out);
        *flag = 1;
    }
}

int is_ams_ifd_name(rtslib_handle *h, const char *name) {
    handle_guard hg(h);
    if (!hg.h || !name)
        return 0;
    record_guard r(hg.h);
    size_t len = 0;
    if (rtslib_ifdm_get_by_name(hg.h, name, RTSLIB_OP_GET, &r.rec, &len) != 0 || !r.rec)
        return 0;
    return r.rec->devtype == IFD_DEVTYPE_AMS_BUNDLE;
}

int is_ams_ifd_idx(rtslib_handle *h, uint16_t index) {
    handle_guard hg(h);
    if (!hg.h)
        return 0;
    record_guard r(hg.h);
    size_t len = 0;
    if (rtslib_ifdm_get_by_index(hg.h, index, RTSLIB_OP_GET, &r.rec, &len) != 0 || !r.rec)
        return 0;
    return r.rec->devtype == IFD_DEVTYPE_AMS_BUNDLE;
}

int mams_get_fpc_pic_slot_by_name(rtslib_handle *h, const char *name, uint16_t *fpc, uint16_t *pic,
                                  uint16_t *ifd_index) {
    record_guard r(h);
    size_t len = 0;
    int rc = rtslib_ifdm_get_by_name(h, name, RTSLIB_OP_GET, &r.rec, &len);
    if (rc != 0)
        return rc;
    if (!r.rec)
        return ENOENT;
    if (r.rec->devtype != IFD_DEVTYPE_AMS_MEMBER)
        return 1;
    *fpc = r.rec->fpc_slot;
    *pic = r.rec->pic_slot;
    *ifd_index = r.rec->index;
    return 0;
}

const char *find_and_concat_pifd_name(const char *name, char *buf) {
    if (!buf || std::strncmp(name, "mams", 4) != 0)
        return name;
    handle_guard hg(nullptr);
    if (!hg.h)
        return name;
    record_guard member(hg.h), parent(hg.h);
    size_t len = 0;
    if (rtslib_ifdm_get_by_name(hg.h, name, RTSLIB_OP_GET, &member.rec, &len) != 0 || !member.rec)
        return name;
    if (rtslib_ifdm_get_by_index(hg.h, member.rec->parent_index, RTSLIB_OP_GET, &parent.rec,
                                 &len) != 0 ||
        !parent.rec)
        return name;
    std::snprintf(buf, AMS_CONCAT_NAME_LEN, "%s (%s)", name, parent.rec->name.c_str());
    return buf;
}

const rtslib_attr *ams_get_load_balancing_options_from_ifdm(const rtslib_ifd_record *rec) {
    if (!rec)
        return nullptr;
    for (const auto &a : rec->attrs)
        if (a.type == RTSLIB_ATTR_LOAD_BALANCING)
            return &a;
    return nullptr;
}
