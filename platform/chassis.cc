#include "platform/chassis.h"

#include "platform/bytes.h"
#include "platform/lab_link.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

namespace {

// Unsigned decimal digits only, no larger than max.
bool parse_decimal(const std::string &s, uint64_t max, uint64_t &out) {
    if (s.empty() || s.size() > 20)
        return false;
    uint64_t v = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9')
            return false;
        unsigned d = static_cast<unsigned>(ch - '0');
        if (v > (max - d) / 10)
            return false;
        v = v * 10 + d;
    }
    out = v;
    return true;
}

} // namespace

namespace vorel::chassis {

int get_value(const std::string &key, std::string &value) {
    lab_link::ControlClient c;
    // A router without the service refuses the connection; a missing
    // socket file says the same thing and must not read as "no such value".
    if (!c.connect())
        return ECONNREFUSED;
    ByteAppender body;
    body.str16(key);
    lab_link::Answer a;
    if (!c.call(lab_link::kChassis, lab_link::kGetValue, body.take(), a))
        return errno ? errno : EIO;
    if (a.status)
        return a.status;
    ByteCursor cur{ByteReader(a.body)};
    value = cur.str16();
    return cur.ok() ? 0 : EPROTO;
}

int get_number(const std::string &key, uint64_t max, uint64_t &value) {
    std::string text;
    int rc = get_value(key, text);
    if (rc)
        return rc;
    return parse_decimal(text, max, value) ? 0 : EINVAL;
}

} // namespace vorel::chassis

using vorel::chassis::get_number;
using vorel::chassis::get_value;
namespace key = vorel::chassis_key;

namespace {

// A flag or count, with the answer of a router that lacks it.
uint64_t number_or(const std::string &k, uint64_t max, uint64_t dflt) {
    uint64_t v;
    return get_number(k, max, v) == 0 ? v : dflt;
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::vector<std::string> split_words(const std::string &text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

} // namespace

int nmchassis_is_vc_or_single_re_protocol_master() {
    return number_or(key::kMaster, 1, 0) ? 1 : 0;
}

int is_usf_mode() {
    return number_or(key::kUsfMode, 1, 0) ? 1 : 0;
}

int get_re_type() {
    uint64_t v;
    return get_number(key::kReType, INT_MAX, v) == 0 ? static_cast<int>(v) : -1;
}

int sysctl_get_int(const char *name, int *value) {
    if (!name || !*name || !value) {
        errno = EINVAL;
        return -1;
    }
    std::string text;
    int rc = get_value(std::string(key::kSysctlPrefix) + name, text);
    if (rc) {
        // Whatever the reason, the variable is not there to be read.
        errno = ENOENT;
        return -1;
    }
    errno = 0;
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || v < INT_MIN || v > INT_MAX) {
        errno = ERANGE;
        return -1;
    }
    *value = static_cast<int>(v);
    return 0;
}

int norix_product_info_get_chassis_max_fpc_slots() {
    return static_cast<int>(number_or(key::kMaxFpcSlots, INT_MAX, 0));
}

int mchassis_get_lcc_number() {
    return static_cast<int>(number_or(key::kLccNumber, INT_MAX, 0));
}

int mchassis_get_max_fpc_slots_per_lcc() {
    return static_cast<int>(number_or(key::kMaxFpcPerLcc, INT_MAX, 0));
}

bool product_walks_all_fpcs() {
    return number_or(key::kWalksAllFpcs, 1, 0) != 0;
}

bool product_inline_reass_board(uint32_t board_id) {
    std::string text;
    if (get_value(key::kInlineReassBoards, text))
        return false;
    for (const auto &w : split_words(text)) {
        uint64_t id;
        if (parse_decimal(w, UINT32_MAX, id) && id == board_id)
            return true;
    }
    return false;
}

int product_feature_get(const char *name, uint32_t *value) {
    if (!name || !*name || !value)
        return EINVAL;
    uint64_t v;
    int rc = get_number(std::string(key::kFeaturePrefix) + name, UINT32_MAX, v);
    if (rc == 0)
        *value = static_cast<uint32_t>(v);
    return rc;
}

unsigned product_max_forwarding_classes() {
    uint32_t v;
    if (product_feature_get("max_supported_forwarding_classes", &v) == 0)
        return v;
    return PRODUCT_DEFAULT_FORWARDING_CLASSES;
}

// ---- Hardware database ----

namespace {
bool hwdb_is_open = false;
}

int hwdb_open_db(const char *name, unsigned flags, int mode) {
    (void)flags;
    if (name || mode != HWDB_MODE_READONLY) {
        // Only the router's own database, and only for reading.
        errno = EINVAL;
        return -1;
    }
    uint64_t present;
    int rc = get_number(key::kHwdb, 1, present);
    if (rc || !present) {
        errno = rc ? rc : ENOENT;
        return -1;
    }
    hwdb_is_open = true;
    return 0;
}

int hwdb_fpc_get_uint(unsigned slot, hwdb_fpc_attr attr, uint32_t *value) {
    if (!hwdb_is_open) {
        errno = EBADF;
        return -1;
    }
    if (attr != FPC_I2C_ID || !value) {
        errno = EINVAL;
        return -1;
    }
    uint64_t v;
    int rc = get_number(key::kHwdbFpcI2cIdPrefix + std::to_string(slot), UINT32_MAX, v);
    if (rc) {
        errno = rc;
        return -1;
    }
    *value = static_cast<uint32_t>(v);
    return 0;
}

void hwdb_close_db() {
    hwdb_is_open = false;
}

// ---- Configuration database ----

struct dax_db {
    std::vector<std::vector<std::string>> paths; // each configured path as words
};

dax_db *dax_open_db(const char **error_text) {
    static std::string why;
    std::string text;
    int rc = get_value(key::kConfigPaths, text);
    if (rc) {
        why = rc == ENOENT
                  ? "no configuration database"
                  : "configuration database not reachable (" + std::string(std::strerror(rc)) + ")";
        if (error_text)
            *error_text = why.c_str();
        return nullptr;
    }
    auto *db = new dax_db;
    for (const auto &line : split_lines(text)) {
        auto words = split_words(line);
        if (!words.empty())
            db->paths.push_back(std::move(words));
    }
    return db;
}

bool dax_path_exists(const dax_db *db, const char *path) {
    if (!db || !path)
        return false;
    auto asked = split_words(path);
    if (asked.empty())
        return false;
    for (const auto &configured : db->paths) {
        if (configured.size() < asked.size())
            continue;
        bool match = true;
        for (size_t i = 0; match && i < asked.size(); i++)
            match = asked[i][0] == '$' || asked[i] == configured[i];
        if (match)
            return true;
    }
    return false;
}

void dax_close_db(dax_db *db) {
    delete db;
}

// ---- PIC synchronisation monitor ----

const char *msvcspmon_sync_state_to_string(uint32_t state) {
    switch (state) {
    case MSVCSPMON_SYNC_STATE_IN_SYNC:
        return "In sync";
    case MSVCSPMON_SYNC_STATE_IN_PROGRESS:
        return "Sync in progress";
    case MSVCSPMON_SYNC_STATE_NO_HA:
        return "No HA or no backup";
    case MSVCSPMON_SYNC_STATE_UNAVAILABLE:
        return "State unavailable";
    default:
        return "Unknown";
    }
}

// ---- Packages ----

int chassis_pic_packages(const char *pic_name, std::vector<std::string> &names) {
    if (!pic_name || !*pic_name)
        return EINVAL;
    std::string text;
    int rc = get_value(std::string(key::kPackagesPrefix) + pic_name, text);
    if (rc)
        return rc;
    names = split_lines(text);
    return 0;
}

int64_t chassis_time_now() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::string time_diff_format(int64_t seconds) {
    constexpr int64_t kDay = 86400, kWeek = 7 * kDay;
    if (seconds < 0)
        seconds = 0;
    int64_t weeks = seconds / kWeek, days = seconds % kWeek / kDay, rest = seconds % kDay;
    char buf[64];
    int n = 0;
    if (weeks)
        n = std::snprintf(buf, sizeof buf, "%lldw%lldd ", static_cast<long long>(weeks),
                          static_cast<long long>(days));
    else if (days)
        n = std::snprintf(buf, sizeof buf, "%lldd ", static_cast<long long>(days));
    std::snprintf(buf + n, sizeof buf - n, "%02lld:%02lld:%02lld",
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest % 3600 / 60),
                  static_cast<long long>(rest % 60));
    return buf;
}
