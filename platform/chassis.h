// Chassis, product and database queries of the routing engine.
//
// The chassis services answer over the control socket (platform/lab_link.h):
// every query is one kChassis/kGetValue call naming a key below, answered
// with a text value (numbers in decimal, flags "1" or "0"), or ENOENT when
// the router has no such value.  When no chassis service answers, every
// query fails at once the way it does on a router that lacks the service:
// "not the master", "no such value", "no database".  Nothing here waits
// longer than the control socket's call limit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorel::chassis_key {
// Routing engine.
constexpr const char *kMaster = "re.master";     // 1: protocol master or the only RE
constexpr const char *kUsfMode = "re.usf_mode";  // 1: unified services framework mode
constexpr const char *kReType = "re.type";       // routing-engine type number
constexpr const char *kSysctlPrefix = "sysctl:"; // + variable name -> integer
// Product.
constexpr const char *kWalksAllFpcs =
    "product.walks_all_fpcs"; // 1: inline reassembly walks all FPCs
constexpr const char *kMaxFpcSlots = "product.max_fpc_slots";
constexpr const char *kLccNumber = "product.lcc_number";
constexpr const char *kMaxFpcPerLcc = "product.max_fpc_per_lcc";
constexpr const char *kInlineReassBoards =
    "product.inline_reass_boards";                 // board ids, blank-separated
constexpr const char *kFeaturePrefix = "feature:"; // + feature name -> integer
// Hardware database.
constexpr const char *kHwdb = "hwdb";                           // 1: the database exists
constexpr const char *kHwdbFpcI2cIdPrefix = "hwdb.fpc_i2c_id:"; // + FPC slot -> board id
// Configuration database: every configured path, one per line.
constexpr const char *kConfigPaths = "config.paths";
// Packages installed on a PIC: + PIC name ("ms-1/0/0") -> names, one per line.
constexpr const char *kPackagesPrefix = "packages:";
} // namespace vorel::chassis_key

namespace vorel::chassis {
// The chassis service's value for key: 0 or an error number (ENOENT: the
// router has no such value; ECONNREFUSED and the like: no chassis service).
int get_value(const std::string &key, std::string &value);
// A value that must be an unsigned decimal number no larger than max
// (EINVAL otherwise).
int get_number(const std::string &key, uint64_t max, uint64_t &value);
} // namespace vorel::chassis

// ---- Routing engine ----

// Nonzero when this routing engine is the protocol master of a virtual
// chassis or the only routing engine; 0 otherwise and when nobody answers.
int nmchassis_is_vc_or_single_re_protocol_master();
// Nonzero in unified services framework mode.
int is_usf_mode();
// The routing engine's type number; -1 when it cannot be learned.
int get_re_type();
// A system variable (sysctlbyname style): 0 with *value set, or -1 with
// errno (ENOENT: no such variable; ERANGE: not an int).
int sysctl_get_int(const char *name, int *value);

// ---- Time ----

// The current time in seconds since the epoch.
int64_t chassis_time_now();
// A time difference as the platform shows it: "HH:MM:SS" under a day,
// "Nd HH:MM:SS" under a week, "NwNd HH:MM:SS" beyond; a negative
// difference (a time in the future) shows as "00:00:00".
std::string time_diff_format(int64_t seconds);

// ---- Product ----

// Line-card slots of the chassis; 0 when unknown.
int norix_product_info_get_chassis_max_fpc_slots();
// This member's number in a virtual chassis (0 outside one or when unknown).
int mchassis_get_lcc_number();
// FPC slots per virtual-chassis member; 0 when unknown.
int mchassis_get_max_fpc_slots_per_lcc();
// True on the platforms whose inline reassembly commands walk every FPC
// slot and ask each line card without looking at its board.
bool product_walks_all_fpcs();
// True when a line card with this board identifier performs inline
// reassembly.
bool product_inline_reass_board(uint32_t board_id);
// A platform feature value ("max_supported_forwarding_classes"): 0 with
// *value set, or an error number (ENOENT: the platform reports none).
int product_feature_get(const char *name, uint32_t *value);
// Forwarding classes the platform supports: the feature value
// "max_supported_forwarding_classes" when reported, else the default.
constexpr unsigned PRODUCT_DEFAULT_FORWARDING_CLASSES = 8;
unsigned product_max_forwarding_classes();

// ---- Hardware database ----

enum hwdb_fpc_attr { FPC_I2C_ID = 1 };
constexpr int HWDB_MODE_READONLY = 2;
// Opens the router's hardware database (name null: the default one); only
// read-only access is offered.  0, or negative (errno set) when there is
// no database.
int hwdb_open_db(const char *name, unsigned flags, int mode);
// One value of the FPC in slot: 0 with *value set, or negative (errno
// ENOENT: no FPC in that slot; EBADF: the database is not open).
int hwdb_fpc_get_uint(unsigned slot, hwdb_fpc_attr attr, uint32_t *value);
void hwdb_close_db();

// ---- Configuration database ----

// A configuration path is a list of words separated by blanks
// ("unified-edge gateways sgw GW1 system anchor-spics interface mams-1/0/0").
// A path asked for exists when it is the beginning of a configured path;
// a word beginning with '$' in the asked path stands for any one word.
struct dax_db;
// Opens the database; null with *error_text (when not null) set to a text
// that says why (valid until the next open).
dax_db *dax_open_db(const char **error_text);
bool dax_path_exists(const dax_db *db, const char *path);
void dax_close_db(dax_db *db);

// ---- PIC synchronisation monitor ----

constexpr uint32_t MSVCSPMON_SYNC_STATE_IN_SYNC = 0xABC123;
constexpr uint32_t MSVCSPMON_SYNC_STATE_IN_PROGRESS = 0xABC124;
constexpr uint32_t MSVCSPMON_SYNC_STATE_NO_HA = 0xABC125;
constexpr uint32_t MSVCSPMON_SYNC_STATE_UNAVAILABLE = 0xABC126;
// "In sync", "Sync in progress", "No HA or no backup", "State unavailable",
// else "Unknown".
const char *msvcspmon_sync_state_to_string(uint32_t state);

// ---- Packages ----

// Names of the packages installed on a PIC: 0, ENOENT for a PIC the
// router does not have, or the error of the exchange.
int chassis_pic_packages(const char *pic_name, std::vector<std::string> &names);
