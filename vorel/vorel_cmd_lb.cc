// -C lb: the aggregated multiservices (load-balancing) interfaces, their
// members and, on mobile gateways, the members' state synchronisation; and
// the switchover of a member to its backup.  The command talks to the
// kernel and to the backup PIC's synchronisation monitor, not to the PIC
// agents.  The view exists only in XML.
#include "platform/bytes.h"
#include "platform/chassis.h"
#include "platform/pconn.h"
#include "platform/rtslib.h"
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_ifd.h"
#include "vorel/vorel_string.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char *kOptstring = "C:i:S:XdfZ";
constexpr size_t kWordLimit = 60;

constexpr uint16_t IFD_DEVTYPE_SERVICE_INTERFACE = 146;
constexpr uint16_t IFD_DEVTYPE_LB_OTHER = 215;

constexpr uint8_t kBundleUp = 5;
constexpr uint8_t kMemberActive = 2;
constexpr uint8_t kMemberBackup = 5;

// The monitor's messages.
constexpr uint16_t kSyncStateRequest = 15;
constexpr uint16_t kSyncStateReply = 18;
constexpr size_t kSyncRequestSize = 188;
constexpr size_t kSyncRequestName = 128;
constexpr size_t kSyncReplyState = 12;
constexpr unsigned kSyncReplyTimeoutMs = 5000;

// What the kernel is asked to do to a member's PIC for a switchover.
constexpr int kPicChangeSwitchover = 4;

// Switchover results, as the kernel answers an inline switchover too.
enum lb_result : int {
    LB_INITIATED = 0,
    LB_RTSOCK_FAILURE = 1,
    LB_INVALID_NAME = 2,
    LB_INVALID_PARENT = 3,
    LB_CONNECTION_FAILURE = 4,
    LB_NO_HA = 5,
    LB_NOT_ACTIVE = 6,
    LB_NO_BACKUP = 7,
    LB_SYNC_IN_PROGRESS = 8,
    LB_SYNC_UNKNOWN = 9,
    LB_UNKNOWN = 10,
};

const char *result_text(int code) {
    static const char *const texts[] = {
        "Switchover Initiated",
        "Switchover failed: Miscellaneous rtsock failure",
        "Switchover failed: Invalid interface name",
        "Switchover failed: Invalid aggregate parent interface",
        "Switchover failed: Connection failure",
        "Switchover failed: HA is not configured",
        "Switchover failed: Member is not active",
        "Switchover failed: No backup is currently available",
        "Switchover failed: sync in progress",
        "Switchover failed: sync state unknown, use force option",
    };
    return code >= 0 && code < 10 ? texts[code] : "Switchover failed: Unknown switchover error";
}

const char *bundle_state_text(uint8_t state) {
    static const char *const texts[] = {"Wait for members", "Members seen", "Wait timer",
                                        "Coming up", "Up"};
    return state >= 1 && state <= 5 ? texts[state - 1] : "Invalid";
}

const char *member_state_text(uint8_t state) {
    static const char *const texts[] = {"Down", "Active", "Discard", "Inactive", "Backup"};
    return state >= 1 && state <= 5 ? texts[state - 1] : "Invalid";
}

const char *ha_type_text(uint8_t ha_type) {
    return ha_type == 1 ? "Many-to-One" : ha_type == 2 ? "One-to-One" : "None";
}

struct lb_params {
    std::optional<std::string> subcommand;
    std::optional<std::string> interface;
    bool detail = false;
    bool force = false;
};

// The kernel handle of the run, closed however the command ends.
struct kernel_handle {
    kernel_handle() : h(rtslib_open(3)) {}
    ~kernel_handle() {
        if (h)
            rtslib_close(h);
    }
    kernel_handle(const kernel_handle &) = delete;
    kernel_handle &operator=(const kernel_handle &) = delete;
    rtslib_handle *h;
};

// ---------------------------------------------------------------------------
// Synchronisation state of a member, asked of the backup PIC's monitor

struct sync_answer {
    uint32_t state = MSVCSPMON_SYNC_STATE_UNAVAILABLE;
    int code = LB_INITIATED;
};

const rtslib_lb_member *member_in_state(const rtslib_lb_options &lb, uint8_t state) {
    for (const rtslib_lb_member &m : lb.members)
        if (m.state == state)
            return &m;
    return nullptr;
}

// The monitor's answer for member: the state word, or false.
bool ask_monitor(unsigned fpc, unsigned pic, const std::string &member, uint32_t *state) {
    pconn_client *c = pconn_client_connect(fpc, pic, PCONN_EP_MSVCS_SYNC_MONITOR);
    if (!c)
        return false;
    uint8_t body[kSyncRequestSize] = {};
    std::memcpy(body + kSyncRequestName, member.data(), std::min(member.size(), kWordLimit));
    pconn_msg reply;
    bool ok = pconn_client_send(c, kSyncStateRequest, body, sizeof body) == 0 &&
              pconn_client_recv(c, reply, kSyncReplyTimeoutMs) == 0 &&
              reply.type == kSyncStateReply;
    vorel::ByteReader r(reply.body);
    if (ok && r.has(kSyncReplyState, 4))
        *state = r.be32(kSyncReplyState);
    else
        ok = false;
    pconn_client_close(c);
    return ok;
}

void sync_state_of(rtslib_handle *h, const rtslib_lb_options &lb, const std::string &member,
                   sync_answer *out) {
    if (lb.ha_type == 0) {
        out->state = MSVCSPMON_SYNC_STATE_NO_HA;
        out->code = LB_NO_HA;
        return;
    }
    const rtslib_lb_member *backup = member_in_state(lb, kMemberBackup);
    if (!backup) {
        out->state = MSVCSPMON_SYNC_STATE_NO_HA;
        out->code = LB_NO_BACKUP;
        return;
    }
    owned_ifd rec(h);
    if (vorel_ifd_fetch_by_name(h, backup->name, rec) != 0) {
        out->code = LB_RTSOCK_FAILURE;
        return;
    }
    if (rec->devtype != IFD_DEVTYPE_AMS_MEMBER) {
        out->code = LB_INVALID_NAME;
        return;
    }
    if (!ask_monitor(rec->fpc_slot, rec->pic_slot, member, &out->state))
        out->code = LB_CONNECTION_FAILURE;
}

// ---------------------------------------------------------------------------
// Show

// Interface names hold letters, digits and "-/._:" only; nothing else goes
// into a database path.
bool is_interface_name(const std::string &name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("-/._:", c))
            return false;
    return true;
}

bool is_mobile_gateway() {
    int v = 0;
    return sysctl_get_int("hw.re.mobile_gateway", &v) == 0 && v > 0;
}

// Whether the interface anchors a mobile gateway's sessions (configured as
// the anchor of a PGW or SGW gateway).
bool is_mobile_gw_anchor(const std::string &name) {
    if (!is_interface_name(name))
        return false;
    const char *error = nullptr;
    dax_db *db = dax_open_db(&error);
    if (!db)
        vorel_fatal_error(1, "%s unable open db, dax error %s\n", "is_mobile_gw_anchor_spics_if",
                          vorel_str_or_null(error));
    std::string pgw = "unified-edge gateways ggsn-pgw $gw system anchor-spics interface " + name;
    std::string sgw = "unified-edge gateways sgw $gw system anchor-spics interface " + name;
    bool anchor = dax_path_exists(db, pgw.c_str()) || dax_path_exists(db, sgw.c_str());
    dax_close_db(db);
    return anchor;
}

void send_name(const char *element, const std::string &name) {
    xml_send_all(element, "%.*s", static_cast<int>(std::min(name.size(), kWordLimit)),
                 name.c_str());
}

void show_members(const rtslib_lb_options &lb) {
    xml_send_open("interface-load-balancing-member-detail");
    for (const rtslib_lb_member &m : lb.members) {
        xml_send_open("member-interface");
        send_name("member-name", m.name);
        xml_send_all("member-weight", "%d", m.weight);
        xml_send_all("member-state", "%s", member_state_text(m.state));
        xml_send_close("member-interface");
    }
    xml_send_close("interface-load-balancing-member-detail");
}

void show_sync_states(rtslib_handle *h, const std::string &name, const rtslib_lb_options &lb) {
    if (!is_mobile_gateway() || lb.state != kBundleUp || lb.ha_type == 0 ||
        !is_mobile_gw_anchor(name))
        return;
    xml_send_open("member-sync-state-detail");
    for (const rtslib_lb_member &m : lb.members) {
        if (m.state != kMemberActive)
            continue;
        sync_answer answer;
        sync_state_of(h, lb, m.name, &answer);
        send_name("member-sync-name", m.name);
        xml_send_all("member-sync-state", "%s", msvcspmon_sync_state_to_string(answer.state));
    }
    xml_send_close("member-sync-state-detail");
}

void show_interface(rtslib_handle *h, const std::string &name, const lb_params &p) {
    owned_ifd rec(h);
    if (vorel_ifd_fetch_by_name(h, name, rec) != 0 ||
        (rec->devtype != IFD_DEVTYPE_AMS_BUNDLE && rec->devtype != IFD_DEVTYPE_LB_OTHER))
        vorel_fatal_error(1, "Invalid load-balancing interface %s\n", name.c_str());
    const char *element = p.detail ? "interface-load-balancing-detail" : "interface-load-balancing";
    xml_send_open(element);
    send_name("interface-name", name);
    rtslib_lb_options lb;
    if (vorel_ifd_lb_options(*rec.rec, lb)) {
        xml_send_all("state", "%s", bundle_state_text(lb.state));
        xml_send_all("last-change", "%s",
                     time_diff_format(chassis_time_now() - int64_t{lb.last_change}).c_str());
        // The members that arrived, not the count the record claims.
        xml_send_all("member-count", "%zu", lb.members.size());
        xml_send_all("ha-type", "%s", ha_type_text(lb.ha_type));
        if (p.detail) {
            show_members(lb);
            show_sync_states(h, name, lb);
        }
    } else {
        xml_send_all("state", "%s", "Unknown");
    }
    xml_send_close(element);
}

// Every bundle the kernel has, in index order.
void show_every_bundle(rtslib_handle *h, const lb_params &p) {
    uint16_t index = 0;
    for (bool first = true;; first = false) {
        owned_ifd rec(h);
        size_t len = 0;
        if (rtslib_ifdm_get_by_index(h, index, RTSLIB_OP_GET_NEXT, &rec.rec, &len) != 0 || !rec.rec)
            return;
        if (!first && rec->index <= index)
            return; // a walk that does not go forward would never end
        index = rec->index;
        if (rec->devtype == IFD_DEVTYPE_AMS_BUNDLE)
            show_interface(h, rec->name, p);
    }
}

void lb_show(rtslib_handle *h, const lb_params &p) {
    const char *root = p.detail ? "interface-load-balancing-detail-information"
                                : "interface-load-balancing-information";
    xml_subtree_open(root);
    if (p.interface)
        show_interface(h, *p.interface, p);
    else
        show_every_bundle(h, p);
    xml_subtree_close();
    xml_subtree_once();
}

// ---------------------------------------------------------------------------
// Switchover

int switchover(rtslib_handle *h, const std::string &member, const lb_params &p) {
    owned_ifd rec(h);
    if (vorel_ifd_fetch_by_name(h, member, rec) != 0 ||
        (rec->devtype != IFD_DEVTYPE_AMS_MEMBER && rec->devtype != IFD_DEVTYPE_SERVICE_INTERFACE))
        return LB_INVALID_NAME;
    uint16_t fpc = rec->fpc_slot, pic = rec->pic_slot, parent_index = rec->parent_index;
    if (parent_index == 0)
        return LB_INVALID_PARENT;
    owned_ifd parent(h);
    rtslib_lb_options lb;
    if (vorel_ifd_fetch_by_index(h, parent_index, parent) != 0 ||
        !vorel_ifd_lb_options(*parent.rec, lb))
        return LB_RTSOCK_FAILURE;
    for (const rtslib_lb_member &m : lb.members)
        if (m.name == member && m.state != kMemberActive)
            return LB_NOT_ACTIVE;

    if (vorel_starts_with(member.c_str(), "si")) {
        if (lb.ha_type == 0)
            return LB_NO_HA;
        if (!member_in_state(lb, kMemberBackup))
            return LB_NO_BACKUP;
        std::vector<uint8_t> attr = rtslib_lb_switchover_encode(member);
        return rtslib_ifdm_change_tlvs(h, parent_index, 0, attr.data(), attr.size());
    }

    sync_answer answer;
    sync_state_of(h, lb, member, &answer);
    if (answer.code == LB_NO_HA || answer.code == LB_NO_BACKUP)
        return answer.code;
    if (p.force || answer.state == MSVCSPMON_SYNC_STATE_IN_SYNC) {
        if (rtslib_pic_change(h, fpc, pic, kPicChangeSwitchover, 0) != 0)
            return LB_RTSOCK_FAILURE;
        return answer.code;
    }
    if (answer.state == MSVCSPMON_SYNC_STATE_IN_PROGRESS)
        return LB_SYNC_IN_PROGRESS;
    if (answer.state == MSVCSPMON_SYNC_STATE_UNAVAILABLE)
        return LB_SYNC_UNKNOWN;
    return LB_UNKNOWN;
}

// ---------------------------------------------------------------------------
// Command line

std::string first_chars(const char *s) {
    return std::string(s).substr(0, kWordLimit);
}

void parse_options(int argc, char **argv, lb_params *p) {
    vorel_getopt_reset();
    int c;
    while ((c = vorel_getopt(argc, argv, kOptstring)) != -1) {
        switch (c) {
        case 'S':
            p->subcommand = first_chars(vorel_optarg);
            break;
        case 'i':
            p->interface = first_chars(vorel_optarg);
            break;
        case 'd':
            p->detail = true;
            break;
        case 'f':
            p->force = true;
            break;
        default:
            break;
        }
    }
}

} // namespace

int vorel_handle_lb_command(int argc, char **argv, vorel_ctx *ctxt) {
    if (!vorel_xml_only_view(ctxt, "the load-balancing view"))
        return 1;
    lb_params p;
    parse_options(argc, argv, &p);
    kernel_handle kernel;
    if (p.subcommand && *p.subcommand == "show") {
        lb_show(kernel.h, p);
        return 0;
    }
    if (p.subcommand && *p.subcommand == "switchover") {
        std::string member = p.interface.value_or("");
        if (!vorel_starts_with(member.c_str(), "mams") && !vorel_starts_with(member.c_str(), "si"))
            vorel_fatal_error(1, "Invalid member interface %s\n", member.c_str());
        xml_send_all("rdd-action-result", "%s", result_text(switchover(kernel.h, member, p)));
        xml_subtree_once();
        return 0;
    }
    vorel_fatal_error(1, "Unknown load-balancing command %s\n",
                      vorel_str_or_null(p.subcommand ? p.subcommand->c_str() : nullptr));
}
