// The Configuration snapshot: which service PICs exist and which service
// sets run on each, read once from the kernel at start-up.
//
// PIC records are kept in key order (FPC slot, PIC slot, interface index),
// each field a 16-bit number stored little-endian and compared byte-wise,
// so slots below 256 sort numerically.  Each PIC owns its service sets in
// byte order of their 64-byte NUL-padded names.
#pragma once

#include "vorel/vorel_ctx.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

constexpr uint32_t ASP_F_MSP = 1u << 0; // device type 102, 129 or 154
constexpr uint32_t ASP_F_SI = 1u << 1;  // an inline service interface (device type 146)

constexpr size_t ASP_NAME_LEN = 60;
constexpr size_t SVC_SET_NAME_LEN = 64;
constexpr uint16_t ASP_NO_PEER = 65535;

struct svc_set_info {
    char name[SVC_SET_NAME_LEN] = {};
    uint16_t id = 0;
    uint8_t style = 0; // 'B' service set, 'D' tunnel group, '@' major 19 service set
    uint32_t kind = 0;
    uint32_t cfg_len = 0;
    uint8_t compressed = 0;
};

using svc_set_key = std::array<uint8_t, SVC_SET_NAME_LEN>;

struct asp_info {
    uint16_t fpc_slot = 0;
    uint16_t pic_slot = 0;
    uint16_t ifd_index = 0;
    char name[ASP_NAME_LEN] = {};
    uint32_t flags = 0;
    uint16_t peer_fpc_slot = ASP_NO_PEER;
    uint16_t peer_pic_slot = ASP_NO_PEER;
    std::map<svc_set_key, std::unique_ptr<svc_set_info>> svc_sets;
    uint8_t pic_mode = 0;
    uint8_t ams_member_type = 0;
};
// An inline service interface is an ASP record with ASP_F_SI.
using si_info = asp_info;

using asp_key = std::array<uint8_t, 6>;
asp_key vorel_db_asp_key(uint16_t fpc, uint16_t pic, uint16_t ifd_index);

// Lookups.  A null previous record starts at the first.
asp_info *vorel_db_asp_find_next(const asp_info *prev);
si_info *vorel_db_si_find_next(const si_info *prev);
asp_info *vorel_db_asp_find_by_name(const char *name);
asp_info *vorel_db_asp_find(uint16_t fpc, uint16_t pic, uint16_t ifd_index);
svc_set_info *vorel_db_svc_set_find_next(const asp_info *asp, const svc_set_info *prev);
svc_set_info *vorel_db_svc_set_find_by_id(const asp_info *asp, uint16_t id);
svc_set_info *vorel_db_svc_set_find_by_name(const asp_info *asp, const char *name);

// Building the snapshot (the loader and tests).
// Adds a PIC record; the snapshot takes it.  An existing record with the
// same key is replaced when `replace` is set, else the new one is dropped.
// Returns the record now in the snapshot under that key.
asp_info *vorel_db_asp_add(std::unique_ptr<asp_info> rec, bool replace);
// Adds a service set to a PIC; -1 when the name is already there.
int vorel_db_svc_set_add(asp_info *asp, const svc_set_info &ss);
// Removes every PIC record without service sets unless keep says otherwise.
void vorel_db_prune_empty(bool (*keep)(const asp_info &));
// Removes every PIC record (tests).
void vorel_db_clear();

// Fills the snapshot from the kernel.  pic_name is not used; with svc_set
// only the service sets of that name enter.  0, or -1 when no kernel
// handle could be opened (the snapshot then stays empty).
int vorel_db_init(const char *pic_name, const char *svc_set, int dump);

// Listings.
void vorel_db_dump(const vorel_ctx *ctxt);
void vorel_db_dump_svc_set_names();
void vorel_db_dump_svc_plugin_names();

// The compression hooks handed to the kernel interface library (bzip2).
int vorel_db_blob_compress(uint8_t *dst, size_t *dst_len, const uint8_t *src, size_t src_len);
int vorel_db_blob_decompress(uint8_t *dst, size_t *dst_len, const uint8_t *src, size_t src_len);
// bzip2 result code -> error number.
int vorel_db_bz2_errno(int bz_result);
