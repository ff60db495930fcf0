// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/):
//
//   fuzz_make_seeds SOURCE_DIR
//
//  - command families: the replies of the end-to-end scenarios
//    (tests/e2e/cases/<family>_*.yaml), encoded by the lab's own layouts
//    and laid out as the family target reads its input (fuzz_command.h);
//  - snapshot: the kernel's answers to a whole load, for a router with
//    plain PICs, a bundle, a redundant pair, a PIC mode, service sets
//    (plain, compressed, on a bundle, on a pair), a major 19 record and a
//    tunnel group; the same in unified mode, with a filter and with a
//    corrupt compressed payload;
//  - channel: scripts and agent streams with replies, parts and ends;
//  - scenario: the scenarios of the end-to-end cases, of tests/data and of
//    the demo router.
//
// The seeds are committed; run this again after a layout or a case changes.
#include "lab/layouts.h"
#include "lab/scenario.h"
#include "platform/bytes.h"
#include "platform/rtslib.h"
#include "platform/rtslib_wire.h"
#include "platform/services_ui.h"

#include <bzlib.h>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include <yaml-cpp/yaml.h>

namespace fs = std::filesystem;
using vorel::ByteAppender;
using Bytes = std::vector<uint8_t>;
namespace wire = vorel::rtslib_wire;

namespace {

std::string g_root;

void write_seed(const std::string &target, const std::string &name, const Bytes &bytes) {
    fs::path dir = fs::path(g_root) / "fuzz" / "corpus" / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    std::printf("%s/%s (%zu bytes)\n", target.c_str(), name.c_str(), bytes.size());
}

void chunk(ByteAppender &a, const Bytes &b) {
    size_t n = b.size() > 0xffff ? 0xffff : b.size();
    a.be16(static_cast<uint16_t>(n));
    a.bytes(b.data(), n);
}

// ---- Command families ----

// The replies of every agent of a case file's scenario, agent by agent;
// with a request type, only the replies of the rules that answer it (a rule
// that names no type answers every request).
std::vector<std::vector<Bytes>> agent_replies(const std::string &case_file,
                                              std::optional<unsigned> asked = std::nullopt) {
    std::vector<std::vector<Bytes>> out;
    YAML::Node doc = YAML::LoadFile(case_file);
    YAML::Node scenario = doc["scenario"];
    std::string scenario_file = case_file;
    if (scenario.IsScalar()) { // a file of its own, named from the case file's folder
        scenario_file = (fs::path(case_file).parent_path() / scenario.as<std::string>()).string();
        scenario = YAML::LoadFile(scenario_file);
    }
    if (!scenario.IsMap())
        return out;
    vorel::lab::ScenarioReader reader(scenario_file);
    vorel::lab::LayoutSet layouts;
    std::vector<std::string> errors;
    layouts.add_builtin(errors);
    if (scenario["layouts"])
        layouts.add(scenario["layouts"], reader);
    for (const auto &agent : scenario["agents"]) {
        std::vector<Bytes> replies;
        for (const auto &rule : agent["rules"]) {
            YAML::Node match = rule["match"];
            if (asked && match && match["type"] && match["type"].as<unsigned>() != *asked)
                continue;
            for (const auto &msg : rule["reply"])
                if (auto message = vorel::lab::read_message(msg, layouts, reader))
                    replies.push_back(message->bytes);
        }
        out.push_back(std::move(replies));
    }
    return out;
}

// Which argument vectors of a family target a case file's replies are
// seeded for (by the case file's name; a file not listed: vector 0), and
// the kernel's answers for a vector that reads them (mode bit 3).
struct FamilySeeding {
    size_t pics_visited;
    std::map<std::string, std::vector<uint8_t>> vectors;
    std::map<uint8_t, Bytes> kernel;
};

// The request type an argument vector's query sends, for a family whose
// agents answer each request by its type: each PIC then gets only the
// replies meant for that request, so a view other than the first rule's
// receives its own reply.
using AskedTypes = std::map<uint8_t, unsigned>;

// One seed per case file, argument vector and mode: each PIC the handler
// visits gets the replies of the next agent of the scenario, then the
// answer's end.
void family_seeds(const std::string &family, const FamilySeeding &how,
                  const AskedTypes &asked = {}) {
    fs::path cases = fs::path(g_root) / "tests" / "e2e" / "cases";
    for (const auto &e : fs::directory_iterator(cases)) {
        std::string name = e.path().stem().string();
        if (!e.is_regular_file() || name.rfind(family + "_", 0) != 0)
            continue;
        auto listed = how.vectors.find(name);
        std::vector<uint8_t> vectors =
            listed == how.vectors.end() ? std::vector<uint8_t>{0} : listed->second;
        for (uint8_t vector : vectors) {
            auto type = asked.find(vector);
            auto agents =
                agent_replies(e.path().string(),
                              type == asked.end() ? std::nullopt : std::optional(type->second));
            if (agents.empty())
                continue;
            auto kernel = how.kernel.find(vector);
            for (uint8_t mode : {0, 1}) {
                ByteAppender a;
                a.u8(kernel == how.kernel.end() ? mode : mode | 8);
                a.u8(vector);
                if (kernel != how.kernel.end())
                    chunk(a, kernel->second);
                for (size_t pic = 0; pic < how.pics_visited; pic++) {
                    a.u8(0); // the channel opens
                    for (const auto &reply : agents[pic % agents.size()])
                        chunk(a, reply);
                    chunk(a, {}); // answer end
                }
                std::string seed = name + (vector ? "-v" + std::to_string(vector) : "");
                write_seed(family, seed + (mode ? "-xml" : "-text"), a.take());
            }
        }
    }
}

// ---- Snapshot ----

rtslib_ifd_record ifd(uint16_t index, const std::string &name, uint16_t devtype, uint16_t fpc,
                      uint16_t pic) {
    rtslib_ifd_record r;
    r.index = index;
    r.name = name;
    r.flags = RTSLIB_IFD_F_AUTHORITATIVE;
    r.devtype = devtype;
    r.fpc_slot = fpc;
    r.pic_slot = pic;
    return r;
}

rtslib_ifd_record bundle(const std::string &member = "mams-4/0/0") {
    rtslib_ifd_record r = ifd(20, "ams0", 153, 0, 0);
    rtslib_lb_options lb;
    lb.mode = RTSLIB_LB_MODE_MEMBERS;
    rtslib_lb_member m;
    m.type = RTSLIB_LB_MEMBER_SERVICE;
    m.name = member;
    lb.members.push_back(m);
    r.attrs.push_back({RTSLIB_ATTR_LOAD_BALANCING, rtslib_lb_encode(lb)});
    return r;
}

rtslib_ifd_record pair() {
    rtslib_ifd_record r = ifd(30, "rsp0", 129, 0, 0);
    rtslib_redundancy red{"ms-1/0/0", "ms-2/0/0", "ms-2/0/0"};
    r.attrs.push_back({RTSLIB_ATTR_REDUNDANCY, rtslib_redundancy_encode(red)});
    return r;
}

struct Kernel {
    ByteAppender a;
    // Configuration records and tunnel groups are answered "fitted" (their
    // length fields follow the chunk, fakes.h) unless the seed tests the
    // library's own checks of those lengths.
    bool fitted = true;
    void ok(const Bytes &body) {
        a.u8(0);
        chunk(a, body);
    }
    void record(const Bytes &body) {
        a.u8(fitted ? 0xfe : 0);
        chunk(a, body);
    }
    void error(uint8_t err) {
        a.u8(err);
        chunk(a, {});
    }
    void record(const rtslib_ifd_record &r) { ok(wire::encode_ifd(r)); }
};

Bytes compress(const Bytes &in) {
    Bytes out(in.size() + in.size() / 100 + 700);
    unsigned int n = static_cast<unsigned int>(out.size());
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(out.data()), &n,
                             const_cast<char *>(reinterpret_cast<const char *>(in.data())),
                             static_cast<unsigned int>(in.size()), 1, 0, 0);
    out.resize(n);
    return out;
}

Bytes gencfg(uint16_t major, uint16_t minor, uint16_t key, rtslib_peer peer, const Bytes &payload,
             bool compressed = false, bool corrupt = false) {
    wire::GencfgWire w;
    w.header.major = major;
    w.header.minor = minor;
    w.header.key = key;
    w.header.flags = RTSLIB_GENCFG_F_KEY | (compressed ? RTSLIB_GENCFG_F_COMPRESSED : 0);
    w.header.peer = peer;
    w.payload_length = static_cast<uint32_t>(payload.size());
    w.stored = compressed ? compress(payload) : payload;
    if (corrupt && w.stored.size() > 20)
        w.stored[w.stored.size() / 2] ^= 0x5a;
    return wire::encode_gencfg(w);
}

Bytes service_set_payload(const std::string &name, uint16_t id, bool unified) {
    vorel::ByteWriter p(728);
    p.be16(0, unified ? 2 : 3);
    p.be16(2, unified ? 134 : 14);
    p.be32(4, 728);
    if (unified) {
        p.text(204, 64, name);
        p.be16(196, id);
    } else {
        p.text(12, 64, name);
        p.be16(76, id);
        p.be32(168, id == 2 ? 9 : 0);
    }
    return p.take();
}

rtslib_peer pic_peer(uint16_t fpc, uint16_t pic) {
    return {0, 0, uint32_t(fpc * 8 + pic)};
}
rtslib_peer ifd_peer(uint16_t index) {
    return {4, 1, index};
}

struct SeedKind {
    bool unified = false;
    bool corrupt = false;
    bool fitted = true;
    size_t payload_size = 0; // 0: each record's own size
    const char *filter = ""; // a -s filter's name
};

void snapshot_seed(const std::string &name, const SeedKind &kind) {
    bool unified = kind.unified, corrupt = kind.corrupt;
    std::string filter = kind.filter;
    Kernel k;
    k.fitted = kind.fitted;
    auto cut = [&](Bytes b) {
        if (kind.payload_size)
            b.resize(kind.payload_size);
        return b;
    };
    k.a.u8(filter.empty() ? 0 : 2);
    if (!filter.empty())
        chunk(k.a, Bytes(filter.begin(), filter.end()));
    // Pass 1: interfaces.
    k.record(ifd(10, "ms-1/0/0", 102, 1, 0));
    k.record(ifd(11, "ms-2/0/0", 102, 2, 0));
    k.record(bundle());
    k.record(ifd(21, "mams-4/0/0", 154, 4, 0));
    k.record(pair());
    k.record(ifd(11, "ms-2/0/0", 102, 2, 0));
    k.record(ifd(10, "ms-1/0/0", 102, 1, 0));
    k.error(2); // ENOENT: the walk ends
    // Pass 2: PIC modes.
    vorel::ByteWriter mode(224);
    mode.u8(220, 2);
    k.record(gencfg(3, 19, 8, pic_peer(1, 0), cut(mode.take())));
    k.error(2);
    // Pass 3: unified mode or not (a chassis value), then the service sets.
    ByteAppender usf;
    usf.str16(unified ? "1" : "0");
    k.ok(usf.take());
    uint16_t major = unified ? 2 : 3, minor = unified ? 134 : 14;
    k.record(gencfg(major, minor, 1, pic_peer(1, 0), cut(service_set_payload("s1", 1, unified))));
    k.record(gencfg(major, minor, 2, pic_peer(2, 0), service_set_payload("s2", 2, unified), true,
                    corrupt));
    k.record(gencfg(major, minor, 3, ifd_peer(20), service_set_payload("s-ams", 3, unified)));
    k.record(bundle());
    k.record(ifd(21, "mams-4/0/0", 154, 4, 0));
    k.record(gencfg(major, minor, 4, ifd_peer(30), service_set_payload("s-pair", 4, unified)));
    k.record(pair());
    k.record(ifd(11, "ms-2/0/0", 102, 2, 0));
    k.record(ifd(10, "ms-1/0/0", 102, 1, 0));
    k.error(2);
    // Pass 4: a version-4 major 19 record.
    vorel::ByteWriter v4(232);
    v4.be16(2, 4);
    v4.text(12, 64, "s-v4");
    v4.be32(140, 40);
    k.record(gencfg(19, 1, 40, pic_peer(1, 0), cut(v4.take()), kind.payload_size == 0));
    k.error(2);
    // Pass 5: tunnel groups, the first PIC has one.
    wire::GroupWire g;
    g.header.group_id = 5;
    g.header.peer_index = 8;
    std::string tg = "tg-five";
    g.data.assign(tg.begin(), tg.end());
    g.data.push_back(0);
    k.record(wire::encode_group(g));
    for (int i = 0; i < 4; i++)
        k.error(2);
    write_seed("snapshot", name, k.a.take());
}

// The kernel's answers when the msp family is asked for bundle ams0: the
// bundle with member mams-3/0/0 (the family target's snapshot holds it and
// its twin ms-3/0/0), once to know it for a bundle, once for its members.
Bytes ams0_members() {
    Kernel k;
    k.record(bundle("mams-3/0/0"));
    k.record(bundle("mams-3/0/0"));
    return k.a.take();
}

// The chassis services' answers, one per call: a text value, or null for
// "no such value".
Bytes chassis_answers(std::initializer_list<const char *> values) {
    ByteAppender a;
    for (const char *v : values) {
        if (!v) {
            a.u8(ENOENT);
            a.be16(0);
            continue;
        }
        std::string text(v);
        a.u8(0);
        a.be16(static_cast<uint16_t>(text.size() + 2));
        a.str16(text);
    }
    return a.take();
}

// ---- Load-balancing bundles (the lb target) ----

rtslib_lb_member lb_member(const std::string &name, uint8_t state, int16_t weight = 1) {
    rtslib_lb_member m;
    m.type = RTSLIB_LB_MEMBER_SERVICE;
    m.state = state;
    m.weight = weight;
    m.name = name;
    return m;
}

// A bundle that is up with an HA type and members in every state (2
// active, 5 backup, 9 none the view knows).
rtslib_ifd_record lb_bundle(uint16_t index, const std::string &name,
                            const std::vector<rtslib_lb_member> &members) {
    rtslib_ifd_record r = ifd(index, name, 153, 0, 0);
    rtslib_lb_options lb;
    lb.mode = RTSLIB_LB_MODE_MEMBERS;
    lb.state = 5;
    lb.ha_type = 1;
    lb.last_change = 1700000000;
    lb.members = members;
    r.attrs.push_back({RTSLIB_ATTR_LOAD_BALANCING, rtslib_lb_encode(lb)});
    return r;
}

rtslib_ifd_record ams0() {
    return lb_bundle(20, "ams0",
                     {lb_member("mams-3/0/0", 2), lb_member("mams-3/1/0", 5, 10),
                      lb_member("mams-4/0/0", 4, -3), lb_member("mams-4/1/0", 2, 32767),
                      lb_member("mams-5/0/0", 3), lb_member("mams-5/1/0", 1),
                      lb_member("mams-6/0/0", 9, -32768)});
}

rtslib_ifd_record lb_member_ifd(uint16_t index, const std::string &name, uint16_t devtype,
                                uint16_t fpc, uint16_t pic, uint16_t parent) {
    rtslib_ifd_record r = ifd(index, name, devtype, fpc, pic);
    r.parent_index = parent;
    return r;
}

rtslib_ifd_record ams0_backup() {
    return lb_member_ifd(22, "mams-3/1/0", 154, 3, 1, 20);
}

void chassis_value(Kernel &k, const std::string &value) {
    ByteAppender v;
    v.str16(value);
    k.ok(v.take());
}

// A mobile gateway whose configuration names ams0 as an anchor; then the
// backup member's record for each of ams0's two active members.
void ams0_sync_answers(Kernel &k) {
    chassis_value(k, "1");
    chassis_value(k, "unified-edge gateways sgw G1 system anchor-spics interface ams0\n"
                     "unified-edge gateways ggsn-pgw P1 system anchor-spics interface ams9");
    k.record(ams0_backup());
    k.record(ams0_backup());
}

// The monitor's reply: message 18 with the state word at 12.
void monitor_reply(ByteAppender &a, uint32_t state) {
    a.u8(0); // the connection opens
    vorel::ByteWriter w(18);
    w.be16(0, 18);
    w.be32(2 + 12, state);
    chunk(a, w.take());
}

void lb_seed(const std::string &name, uint8_t vector, const Bytes &kernel,
             const std::vector<uint32_t> &monitor_states, bool monitor_refuses = false) {
    ByteAppender a;
    a.u8(1 | 8); // XML, kernel answers
    a.u8(vector);
    chunk(a, kernel);
    if (monitor_refuses)
        a.u8(1);
    for (uint32_t state : monitor_states)
        monitor_reply(a, state);
    write_seed("lb", name, a.take());
}

void lb_seeds() {
    constexpr uint32_t kInSync = 0xABC123, kInProgress = 0xABC124;
    // show and show -d: a get-next walk over an interface, two bundles
    // (ams1 without options) and a member; each bundle is asked again by name.
    for (uint8_t vector : {0, 1}) {
        Kernel k;
        k.record(ifd(10, "ge-0/0/0", 1, 0, 0));
        k.record(ams0());
        k.record(ams0());
        if (vector == 1)
            ams0_sync_answers(k);
        k.record(lb_member_ifd(21, "mams-3/0/0", 154, 3, 0, 20));
        k.record(ifd(30, "ams1", 153, 0, 0));
        k.record(ifd(30, "ams1", 153, 0, 0));
        k.error(2); // ENOENT: the walk ends
        lb_seed(vector ? "show-detail" : "show", vector, k.a.take(),
                vector ? std::vector<uint32_t>{kInSync, kInProgress} : std::vector<uint32_t>{});
    }
    {
        Kernel k;
        k.record(ams0());
        ams0_sync_answers(k);
        lb_seed("show-detail-ams0", 2, k.a.take(), {kInProgress, 0x12345678});
    }
    // Switchover of a mams member: the member, its bundle, the backup's
    // record, the monitor's state, then the kernel's PIC change.
    auto mams_switchover = [](bool pic_change) {
        Kernel k;
        k.record(lb_member_ifd(21, "mams-3/0/0", 154, 3, 0, 20));
        k.record(ams0());
        k.record(ams0_backup());
        if (pic_change)
            k.ok({});
        return k.a.take();
    };
    lb_seed("switchover-in-sync", 3, mams_switchover(true), {kInSync});
    lb_seed("switchover-in-progress", 3, mams_switchover(false), {kInProgress});
    lb_seed("switchover-force-refused", 4, mams_switchover(true), {}, true);
    // Switchover of an inline member: the bundle's attribute is replaced
    // and the kernel's answer is the result.
    for (uint8_t result : {0, 8}) {
        Kernel k;
        k.record(lb_member_ifd(51, "si-5/0/0", 146, 5, 0, 50));
        k.record(lb_bundle(50, "ams3", {lb_member("si-5/0/0", 2), lb_member("si-5/1/0", 5)}));
        k.error(result);
        lb_seed("switchover-inline-" + std::to_string(result), 5, k.a.take(), {});
    }
}

// ---- Channel ----

Bytes frame(uint8_t kind, const Bytes &payload) {
    ByteAppender a;
    a.u8(kind);
    a.u8(0);
    a.be16(0);
    a.be32(static_cast<uint32_t>(payload.size()));
    a.bytes(payload.data(), payload.size());
    return a.take();
}

Bytes message(uint16_t type, size_t size) {
    vorel::ByteWriter w(size);
    w.be16(0, type);
    w.be16(2, 1);
    w.be16(4, static_cast<uint16_t>(size / 4));
    for (size_t i = 8; i < size; i++)
        w.u8(i, static_cast<uint8_t>(i));
    return w.take();
}

void channel_seed(const std::string &name, const Bytes &script, const std::vector<Bytes> &frames) {
    Bytes in;
    in.push_back(static_cast<uint8_t>(script.size() - 1));
    in.insert(in.end(), script.begin(), script.end());
    for (const auto &f : frames)
        in.insert(in.end(), f.begin(), f.end());
    write_seed("channel", name, in);
}

// Script steps (channel_fuzz.cc): op | type index << 2.
constexpr uint8_t kSend = 0, kReceive = 1, kObject = 2, kLie = 3;
constexpr uint8_t k318 = 0 << 2, k317 = 1 << 2;

void channel_seeds() {
    channel_seed("reply-then-end", {kSend | k317, kReceive | k318, kReceive | k318},
                 {frame(SERVICES_UI_FRAME_REPLY, message(318, 14360)),
                  frame(SERVICES_UI_FRAME_ANSWER_END, {})});
    channel_seed(
        "object", {kSend | k317, kReceive | k318, kObject | k318, kObject | k318, kObject | k318},
        {frame(SERVICES_UI_FRAME_REPLY, message(318, 64)),
         frame(SERVICES_UI_FRAME_PART, message(318, 40)),
         frame(SERVICES_UI_FRAME_PART, message(317, 40)),
         frame(SERVICES_UI_FRAME_PART, message(318, 40)), frame(SERVICES_UI_FRAME_OBJECT_END, {}),
         frame(SERVICES_UI_FRAME_ANSWER_END, {})});
    channel_seed(
        "two-requests", {kSend | k317, kSend | k317, kReceive | k318, kReceive | k318, kLie | k317},
        {frame(SERVICES_UI_FRAME_REPLY, message(318, 16)), frame(SERVICES_UI_FRAME_ANSWER_END, {}),
         frame(SERVICES_UI_FRAME_REPLY, message(317, 16)),
         frame(SERVICES_UI_FRAME_REPLY, message(318, 24)),
         frame(SERVICES_UI_FRAME_ANSWER_END, {})});
    Bytes cut = frame(SERVICES_UI_FRAME_REPLY, message(318, 200));
    cut.resize(100);
    channel_seed("closed-mid-frame", {kSend | k317, kReceive | k318, kReceive | k318}, {cut});
}

// ---- Scenario ----

Bytes file_bytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void scenario_seeds() {
    fs::path cases = fs::path(g_root) / "tests" / "e2e" / "cases";
    for (const auto &e : fs::directory_iterator(cases)) {
        // Case files only (a folder there holds a case file's expected outputs).
        if (!e.is_regular_file() || e.path().extension() != ".yaml")
            continue;
        YAML::Node doc = YAML::LoadFile(e.path().string());
        if (!doc["scenario"].IsMap())
            continue;
        YAML::Emitter out;
        out << doc["scenario"];
        std::string text = out.c_str();
        write_seed("scenario", "e2e-" + e.path().stem().string(), Bytes(text.begin(), text.end()));
    }
    for (const auto &e : fs::directory_iterator(fs::path(g_root) / "tests" / "data"))
        if (e.is_regular_file()) // a family's own data folder is no scenario
            write_seed("scenario", "data-" + e.path().stem().string(), file_bytes(e.path()));
    // The demo router: its main file without the include line (the target
    // passes over includes that leave its folder) and each included file.
    fs::path demo = fs::path(g_root) / "lab" / "scenarios";
    std::ifstream main_file(demo / "demo.yaml");
    std::string text, line;
    while (std::getline(main_file, line))
        if (line.rfind("include:", 0) != 0)
            text += line + "\n";
    write_seed("scenario", "demo", Bytes(text.begin(), text.end()));
    for (const auto &e : fs::directory_iterator(demo / "demo"))
        write_seed("scenario", "demo-" + e.path().stem().string(), file_bytes(e.path()));
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds SOURCE_DIR\n");
        return 2;
    }
    g_root = argv[1];
    // Families: name and how many PICs the family target's snapshot visits.
    family_seeds("tcplog", {3, {}, {}});
    family_seeds("fwnat", {6,
                           {{"fwnat_flows", {0, 1, 7, 8}},
                            {"fwnat_counts", {2, 3}},
                            {"fwnat_conv", {4}},
                            {"fwnat_natpool", {5, 6, 9}}},
                           {}});
    family_seeds("fwnat_sfw", {2,
                               {{"fwnat_sfw_sip", {0, 1, 2, 3}},
                                {"fwnat_sfw_analysis", {4, 5, 13}},
                                {"fwnat_sfw_stats", {6, 7, 8, 9, 10, 11, 12}}},
                               {}});
    family_seeds("msp", {4,
                         {{"msp_sessions", {0, 1, 9}},
                          {"msp_flows", {4, 5, 7}},
                          {"msp_cmdline", {2, 6}},
                          {"msp_walk", {3, 8}},
                          {"msp_stats", {10, 11, 12, 22}},
                          {"msp_utilization", {13, 14, 15}},
                          {"msp_alg", {16, 17, 18, 19, 20, 21, 23, 24, 25, 26}}},
                         {{8, ams0_members()}}});
    family_seeds("cos", {3, {{"cos_stats", {0, 1, 2, 3, 4}}, {"cos_faults", {1}}}, {}});
    // The routing engine says type 160, so no package is looked for.
    const Bytes re_type_160 = {0, 0, 5, 0, 3, '1', '6', '0'};
    std::map<uint8_t, Bytes> lrf_kernel;
    for (uint8_t v = 0; v < 9; v++)
        lrf_kernel[v] = re_type_160;
    // Each view's request type: statistics, collector, rule, template and
    // the three clears.
    const AskedTypes lrf_asked = {{0, 257}, {1, 259}, {2, 265}, {3, 269}, {4, 261},
                                  {5, 263}, {6, 267}, {7, 269}, {8, 269}};
    family_seeds(
        "lrf",
        {3, {{"lrf_views", {0, 1, 2, 3, 4, 5, 6, 7, 8}}, {"lrf_faults", {0, 2}}}, lrf_kernel},
        lrf_asked);
    family_seeds("hcm", {3, {{"hcm_stats", {0, 1, 2, 3, 4, 5}}}, {}});
    family_seeds("mss", {4, {{"mss_sessions", {0, 1, 2}}}, {}});
    family_seeds("match_policy", {6, {{"match_policy_lookup", {0, 1, 2, 3, 4}}}, {}});
    family_seeds("svc_set", {4,
                             {{"svc_set_summary", {2, 3, 4}},
                              {"svc_set_stats", {0, 1, 5, 7, 8, 9}},
                              {"svc_set_plugins", {16, 17}},
                              {"svc_set_syslog", {10, 11, 12, 18}},
                              {"svc_set_flows", {6, 13, 14, 15}}},
                             {}});
    family_seeds("softwire", {4,
                              {{"softwire_tables", {0, 1, 2, 3, 4, 5, 8}},
                               {"softwire_stats", {6, 7, 9, 10}},
                               {"softwire_demo", {0, 1}}},
                              {}});
    family_seeds("nat", {6,
                         {{"nat_mappings", {0, 1, 2, 3, 14}},
                          {"nat_lookups_clear", {4, 5, 6, 7, 15}},
                          {"nat_stats", {8, 9, 17}},
                          {"nat_pcp", {10, 11, 16}},
                          {"nat_inline", {5, 12, 13}}},
                         {}});
    family_seeds("ha", {4, {{"ha_state", {0, 1, 2, 3, 4}}, {"ha_faults", {0, 3}}}, {}});
    family_seeds("ids", {2, {{"ids_tables", {0, 1, 2, 3, 4}}, {"ids_faults", {1}}}, {}});
    family_seeds("ipsec",
                 {3, {{"ipsec_stats", {0, 1, 2, 3, 4, 5, 6}}, {"ipsec_faults", {0, 1}}}, {}});
    family_seeds("capture", {3, {{"capture_dump", {0, 1, 2}}, {"capture_errors", {0, 1}}}, {}});
    // The FPC walk: a database, three slots of which two carry a board
    // that reassembles inline, member 0; then one named slot.
    const Bytes walk = chassis_answers(
        {"1", "0", "3", "2822", "2822", "0", "3", "2822", "2822", "0", "3", nullptr});
    const Bytes one_slot = chassis_answers({"1", "0", "2822", "2822", "0", "3"});
    family_seeds("ipreass", {3,
                             {{"ipreass_views", {0, 1, 2, 3, 4}},
                              {"ipreass_vc", {2, 3}},
                              {"ipreass_all_fpcs", {2}},
                              {"ipreass_no_hwdb", {0, 5}}},
                             {{2, walk}, {3, one_slot}, {5, walk}}});
    family_seeds("fips", {3, {{"fips_tests", {0, 2, 3, 4, 5, 6, 7, 8}}}, {}});
    lb_seeds();
    snapshot_seed("load", {});
    snapshot_seed("load-unified", {.unified = true});
    snapshot_seed("load-corrupt", {.corrupt = true});
    snapshot_seed("load-filter", {.filter = "s-ams"});
    snapshot_seed("load-wire", {.fitted = false});
    snapshot_seed("load-short", {.payload_size = 100});
    snapshot_seed("load-short-unified", {.unified = true, .payload_size = 150});
    channel_seeds();
    scenario_seeds();
    return 0;
}
