// Names of aggregated multiservices bundles and their members.
//
// A member PIC is known to the kernel twice: under its ordinary name
// (ms-1/2/0) and as a bundle member (mams-1/2/0, device type 154).
#pragma once

#include "platform/rtslib.h"

#include <cstddef>
#include <cstdint>

constexpr size_t AMS_NAME_LEN = 60;
constexpr size_t AMS_CONCAT_NAME_LEN = 120;

constexpr uint16_t IFD_DEVTYPE_AMS_BUNDLE = 153;
constexpr uint16_t IFD_DEVTYPE_AMS_MEMBER = 154;

// "ms..." -> "mams...", flag 1; otherwise flag 0 and an empty buffer.
void vorel_mams_name_of_ms(const char *name, uint8_t *flag, char out[AMS_NAME_LEN]);
// "mams..." -> "ms...", flag 1; otherwise flag 0 and an empty buffer.
void vorel_ms_name_of_mams(const char *name, uint8_t *flag, char out[AMS_NAME_LEN]);

// 1 when the interface exists and is a bundle (device type 153).  A null
// handle makes the call open (and close) its own.
int is_ams_ifd_name(rtslib_handle *h, const char *name);
int is_ams_ifd_idx(rtslib_handle *h, uint16_t index);

// 0 and the member's slots and index when name is a bundle member; 1 when
// the interface is of another type; the library's error number otherwise.
int mams_get_fpc_pic_slot_by_name(rtslib_handle *h, const char *name, uint16_t *fpc, uint16_t *pic,
                                  uint16_t *ifd_index);

// The name to display for a PIC: the name itself, or for a bundle member
// "member (bundle)" written into buf (120 bytes).
const char *find_and_concat_pifd_name(const char *name, char *buf);

// The value of the record's first load-balancing attribute, or null.
const rtslib_attr *ams_get_load_balancing_options_from_ifdm(const rtslib_ifd_record *rec);
