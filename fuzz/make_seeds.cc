// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/):
//
//   fuzz_make_seeds SOURCE_DIR
//
//  - command families: the agents' replies in the scenarios of the
//    end-to-end cases (tests/e2e/cases/<family>_*.yaml), one set of seeds
//    per scenario, encoded by the lab's own layouts and laid out as the
//    family target reads its input (fuzz_command.h);
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
// A target's old seeds go first, but for those written by hand (hand-*).
#include "lab/layouts.h"
#include "lab/scenario.h"
#include "platform/bytes.h"
#include "platform/rtslib.h"
#include "platform/rtslib_wire.h"
#include "platform/services_ui.h"

#include <algorithm>
#include <bzlib.h>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <optional>
#include <set>
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
    static std::set<std::string> cleared;
    fs::path dir = fs::path(g_root) / "fuzz" / "corpus" / target;
    fs::create_directories(dir);
    if (cleared.insert(target).second)
        for (const auto &e : fs::directory_iterator(dir))
            if (e.path().filename().string().rfind("hand-", 0) != 0)
                fs::remove(e.path());
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

// How a family is seeded: how many PICs the family target's snapshot
// visits; which argument vectors (byte 1 of the input) each scenario of the
// family's case files is seeded for, by the scenario's name (the stem of its
// file, or of the case file for a scenario written in it; one not listed:
// vector 0); for a family whose agents answer each request by its type, the
// type each vector's request has (0: any), so that each PIC gets only the
// replies meant for that request; the kernel's answers for a vector that
// reads them (mode bit 3).
struct Family {
    std::string name;
    size_t pics_visited;
    std::map<std::string, std::vector<uint8_t>> vectors = {};
    std::vector<unsigned> asked = {};
    std::map<uint8_t, Bytes> kernel = {};
};

std::vector<uint8_t> all(uint8_t n) { // vectors 0 to n - 1
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

// A generated reply goes out as several copies; a few are seeded.
constexpr uint64_t kMaxCopies = 8;

// What every agent of a scenario sends, agent by agent: each rule's replies
// (every copy, its varying fields written), then its large object's parts
// and the object's end (an empty chunk); with a request type, only the
// rules that answer it (a rule that names no type answers every request).
std::vector<std::vector<Bytes>> agent_replies(const std::string &file, const YAML::Node &scenario,
                                              unsigned asked) {
    vorel::lab::ScenarioReader reader(file);
    vorel::lab::LayoutSet layouts;
    std::vector<std::string> errors;
    layouts.add_builtin(errors);
    if (scenario["structures"])
        layouts.add_structures(scenario["structures"], reader);
    if (scenario["layouts"])
        layouts.add(scenario["layouts"], reader);
    auto add = [&](std::vector<Bytes> &out, const YAML::Node &messages) {
        for (const auto &msg : messages)
            if (auto m = vorel::lab::read_message(msg, layouts, reader))
                for (uint64_t i = 0; i < m->repeat && i < kMaxCopies; i++) {
                    out.push_back(m->bytes);
                    m->patch(out.back().data(), out.back().size(), i);
                }
    };
    std::vector<std::vector<Bytes>> out;
    for (const auto &agent : scenario["agents"]) {
        std::vector<Bytes> &replies = out.emplace_back();
        for (const auto &rule : agent["rules"]) {
            YAML::Node match = rule["match"];
            if (asked && match && match["type"] && match["type"].as<unsigned>() != asked)
                continue;
            add(replies, rule["reply"]);
            if (YAML::Node object = rule["large_object"]) {
                add(replies, object["parts"]);
                replies.emplace_back();
            }
        }
    }
    return out;
}

// One seed per scenario of the family's case files
// (tests/e2e/cases/<family>_*.yaml, but for those of a longer family's name:
// fwnat_sfw_sip is not fwnat's), argument vector and mode: each PIC the
// handler visits gets the replies of the next agent of the scenario, then
// the answer's end.  False when the family names a scenario that none of
// them has (a case file renamed or merged).
bool family_seeds(const Family &f, const std::vector<Family> &families) {
    auto of = [](const std::string &stem, const Family &g) {
        return stem.rfind(g.name + "_", 0) == 0;
    };
    std::map<std::string, std::pair<std::string, YAML::Node>> scenarios; // name: file, root
    for (const auto &e : fs::directory_iterator(fs::path(g_root) / "tests" / "e2e" / "cases")) {
        std::string file = e.path().string(), name = e.path().stem().string();
        if (!e.is_regular_file() || !of(name, f) ||
            std::any_of(families.begin(), families.end(), [&](const Family &g) {
                return g.name.size() > f.name.size() && of(name, g);
            }))
            continue;
        YAML::Node scenario = YAML::LoadFile(file)["scenario"];
        if (scenario.IsScalar()) { // a file of its own, named from the case file's folder
            fs::path named = e.path().parent_path() / scenario.as<std::string>();
            file = named.string();
            name = named.stem().string();
            scenario = YAML::LoadFile(file);
        }
        if (scenario.IsMap() && scenario["agents"].size())
            scenarios.emplace(name, std::pair(file, scenario));
    }
    bool ok = true;
    for (const auto &[name, vectors] : f.vectors)
        if (!scenarios.count(name)) {
            std::fprintf(stderr, "fuzz_make_seeds: no case file of family %s has scenario %s\n",
                         f.name.c_str(), name.c_str());
            ok = false;
        }
    for (const auto &[name, scenario] : scenarios) {
        auto listed = f.vectors.find(name);
        for (uint8_t vector : listed == f.vectors.end() ? all(1) : listed->second) {
            auto agents = agent_replies(scenario.first, scenario.second,
                                        vector < f.asked.size() ? f.asked[vector] : 0);
            auto kernel = f.kernel.find(vector);
            for (uint8_t mode : {0, 1}) {
                ByteAppender a;
                a.u8(kernel == f.kernel.end() ? mode : mode | 8);
                a.u8(vector);
                if (kernel != f.kernel.end())
                    chunk(a, kernel->second);
                for (size_t pic = 0; pic < f.pics_visited; pic++) {
                    a.u8(0); // the channel opens
                    for (const auto &reply : agents[pic % agents.size()])
                        chunk(a, reply);
                    chunk(a, {}); // answer end
                }
                std::string seed = name + (vector ? "-v" + std::to_string(vector) : "");
                write_seed(f.name, seed + (mode ? "-xml" : "-text"), a.take());
            }
        }
    }
    return ok;
}

// ---- Snapshot ----

// An interface; a bundle member names its bundle's index as its parent.
rtslib_ifd_record ifd(uint16_t index, const std::string &name, uint16_t devtype, uint16_t fpc,
                      uint16_t pic, uint16_t parent = 0) {
    rtslib_ifd_record r;
    r.index = index;
    r.name = name;
    r.flags = RTSLIB_IFD_F_AUTHORITATIVE;
    r.devtype = devtype;
    r.fpc_slot = fpc;
    r.pic_slot = pic;
    r.parent_index = parent;
    return r;
}

rtslib_lb_member lb_member(const std::string &name, uint8_t state, int16_t weight = 1) {
    return {RTSLIB_LB_MEMBER_SERVICE, state, weight, name};
}

// A load-balancing bundle; one that is up has an HA type and a last change.
rtslib_ifd_record lb_bundle(uint16_t index, const std::string &name,
                            const std::vector<rtslib_lb_member> &members, bool up = true) {
    rtslib_ifd_record r = ifd(index, name, 153, 0, 0);
    rtslib_lb_options lb;
    lb.mode = RTSLIB_LB_MODE_MEMBERS;
    if (up) {
        lb.state = 5;
        lb.ha_type = 1;
        lb.last_change = 1700000000;
    }
    lb.members = members;
    r.attrs.push_back({RTSLIB_ATTR_LOAD_BALANCING, rtslib_lb_encode(lb)});
    return r;
}

rtslib_ifd_record bundle(const std::string &member = "mams-4/0/0") {
    return lb_bundle(20, "ams0", {lb_member(member, 0, 0)}, false);
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
    void records(std::initializer_list<rtslib_ifd_record> rs) {
        for (const auto &r : rs)
            record(r);
    }
    void value(const std::string &text) { // a chassis value
        ByteAppender v;
        v.str16(text);
        ok(v.take());
    }
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
    const auto ms1 = ifd(10, "ms-1/0/0", 102, 1, 0), ms2 = ifd(11, "ms-2/0/0", 102, 2, 0),
               mams4 = ifd(21, "mams-4/0/0", 154, 4, 0);
    k.records({ms1, ms2, bundle(), mams4, pair(), ms2, ms1});
    k.error(2); // ENOENT: the walk ends
    // Pass 2: PIC modes.
    vorel::ByteWriter mode(224);
    mode.u8(220, 2);
    k.record(gencfg(3, 19, 8, pic_peer(1, 0), cut(mode.take())));
    k.error(2);
    // Pass 3: unified mode or not (a chassis value), then the service sets.
    k.value(unified ? "1" : "0");
    uint16_t major = unified ? 2 : 3, minor = unified ? 134 : 14;
    k.record(gencfg(major, minor, 1, pic_peer(1, 0), cut(service_set_payload("s1", 1, unified))));
    k.record(gencfg(major, minor, 2, pic_peer(2, 0), service_set_payload("s2", 2, unified), true,
                    corrupt));
    k.record(gencfg(major, minor, 3, ifd_peer(20), service_set_payload("s-ams", 3, unified)));
    k.records({bundle(), mams4});
    k.record(gencfg(major, minor, 4, ifd_peer(30), service_set_payload("s-pair", 4, unified)));
    k.records({pair(), ms2, ms1});
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
    k.records({bundle("mams-3/0/0"), bundle("mams-3/0/0")});
    return k.a.take();
}

// The chassis services' answers, one per call: a text value, or null for
// "no such value".
Bytes chassis_answers(std::initializer_list<const char *> values) {
    Kernel k;
    for (const char *v : values)
        v ? k.value(v) : k.error(ENOENT);
    return k.a.take();
}

// ---- Load-balancing bundles (the lb target) ----

// A bundle that is up with members in every state (2 active, 5 backup, 9
// none the view knows).
rtslib_ifd_record ams0() {
    return lb_bundle(20, "ams0",
                     {lb_member("mams-3/0/0", 2), lb_member("mams-3/1/0", 5, 10),
                      lb_member("mams-4/0/0", 4, -3), lb_member("mams-4/1/0", 2, 32767),
                      lb_member("mams-5/0/0", 3), lb_member("mams-5/1/0", 1),
                      lb_member("mams-6/0/0", 9, -32768)});
}

rtslib_ifd_record ams0_backup() {
    return ifd(22, "mams-3/1/0", 154, 3, 1, 20);
}

// A mobile gateway whose configuration names ams0 as an anchor; then the
// backup member's record for each of ams0's two active members.
void ams0_sync_answers(Kernel &k) {
    k.value("1");
    k.value("unified-edge gateways sgw G1 system anchor-spics interface ams0\n"
            "unified-edge gateways ggsn-pgw P1 system anchor-spics interface ams9");
    k.records({ams0_backup(), ams0_backup()});
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
        k.records({ifd(10, "ge-0/0/0", 1, 0, 0), ams0(), ams0()});
        if (vector == 1)
            ams0_sync_answers(k);
        k.records({ifd(21, "mams-3/0/0", 154, 3, 0, 20), ifd(30, "ams1", 153, 0, 0),
                   ifd(30, "ams1", 153, 0, 0)});
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
        k.records({ifd(21, "mams-3/0/0", 154, 3, 0, 20), ams0(), ams0_backup()});
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
        k.records({ifd(51, "si-5/0/0", 146, 5, 0, 50),
                   lb_bundle(50, "ams3", {lb_member("si-5/0/0", 2), lb_member("si-5/1/0", 5)})});
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
    auto reply = [](uint16_t type, size_t size) {
        return frame(SERVICES_UI_FRAME_REPLY, message(type, size));
    };
    auto part = [](uint16_t type) { return frame(SERVICES_UI_FRAME_PART, message(type, 40)); };
    const Bytes end = frame(SERVICES_UI_FRAME_ANSWER_END, {});
    channel_seed("reply-then-end", {kSend | k317, kReceive | k318, kReceive | k318},
                 {reply(318, 14360), end});
    channel_seed("object",
                 {kSend | k317, kReceive | k318, kObject | k318, kObject | k318, kObject | k318},
                 {reply(318, 64), part(318), part(317), part(318),
                  frame(SERVICES_UI_FRAME_OBJECT_END, {}), end});
    channel_seed("two-requests",
                 {kSend | k317, kSend | k317, kReceive | k318, kReceive | k318, kLie | k317},
                 {reply(318, 16), end, reply(317, 16), reply(318, 24), end});
    Bytes cut = reply(318, 200);
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
    auto seed_files = [](const fs::path &dir, const std::string &prefix) {
        for (const auto &e : fs::directory_iterator(dir))
            if (e.is_regular_file()) // a family's own data folder is no scenario
                write_seed("scenario", prefix + e.path().stem().string(), file_bytes(e.path()));
    };
    seed_files(fs::path(g_root) / "tests" / "data", "data-");
    // The demo router: its main file without the include line (the target
    // passes over includes that leave its folder) and each included file.
    fs::path demo = fs::path(g_root) / "lab" / "scenarios";
    std::ifstream main_file(demo / "demo.yaml");
    std::string text, line;
    while (std::getline(main_file, line))
        if (line.rfind("include:", 0) != 0)
            text += line + "\n";
    write_seed("scenario", "demo", Bytes(text.begin(), text.end()));
    seed_files(demo / "demo", "demo-");
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds SOURCE_DIR\n");
        return 2;
    }
    g_root = argv[1];
    // The routing engine says type 160, so no package is looked for.
    const Bytes re_type_160 = {0, 0, 5, 0, 3, '1', '6', '0'};
    std::map<uint8_t, Bytes> lrf_kernel;
    for (uint8_t v : all(9))
        lrf_kernel[v] = re_type_160;
    // The FPC walk: a database, three slots of which two carry a board
    // that reassembles inline, member 0; then one named slot.
    const Bytes walk = chassis_answers(
        {"1", "0", "3", "2822", "2822", "0", "3", "2822", "2822", "0", "3", nullptr});
    const Bytes one_slot = chassis_answers({"1", "0", "2822", "2822", "0", "3"});
    const std::vector<Family> families = {
        {"tcplog", 3},
        // Flows, flows -d, the count, the drain, conversations, pools, the
        // inline flows, a filtered flow listing, one pool.
        {"fwnat",
         6,
         {{"fwnat", all(10)}, {"fwnat_faults", {0, 4}}},
         {18, 18, 16, 14, 22, 24, 24, 18, 18, 24}},
        // SIP calls, registrations, the call count, the registration drain,
        // flow and subscriber analysis, statistics (four views, integrity
        // drops, redundancy, inline), the analysis clear.
        {"fwnat_sfw",
         2,
         {{"fwnat_sfw", all(14)}, {"fwnat_sfw_faults", {0, 4, 6, 11}}},
         {73, 79, 75, 83, 20, 228, 34, 34, 34, 34, 163, 144, 34, 20}},
        // Sessions (and their count and drains) and flows (and theirs) are
        // asked by type.
        {"msp",
         4,
         {{"msp_sessions", {0, 1, 2, 4, 5, 6, 7, 9}},
          {"msp_alg_apps", {18, 19}},
          {"msp_cmdline", {2, 6}},
          {"msp_walk", {3, 8}},
          {"msp_stats", {10, 11, 12, 22}},
          {"msp_utilization", {13, 14, 15}},
          {"msp_alg", {16, 17, 18, 19, 20, 21, 23, 24, 25, 26}}},
         {134, 134, 122, 0, 118, 116, 114, 114, 0, 134},
         {{8, ams0_members()}}},
        {"cos", 3, {{"cos_stats", all(5)}, {"cos_faults", {1}}}},
        // Statistics, collector, rule, template and the three clears.
        {"lrf",
         3,
         {{"lrf", all(9)}, {"lrf_faults", {0, 2}}},
         {257, 259, 265, 269, 261, 263, 267, 269, 269},
         lrf_kernel},
        {"hcm", 3, {{"hcm_stats", all(6)}}},
        {"mss", 4, {{"mss_sessions", all(3)}}},
        {"match_policy", 6, {{"match_policy_lookup", all(5)}}},
        {"svc_set",
         4,
         {{"svc_set_summary", {2, 3, 4}},
          {"svc_set", {0, 1, 5, 6, 7, 8, 9, 13, 14, 15, 16, 17}},
          {"svc_set_syslog", {10, 11, 12, 18}}}},
        {"softwire", 4, {{"softwire", all(11)}}},
        {"nat", 6, {{"nat", all(18)}}},
        {"ha", 4, {{"ha_state", all(5)}, {"ha_faults", {0, 3}}}},
        {"ids", 2, {{"ids_tables", all(5)}, {"ids_faults", {1}}}},
        {"ipsec", 3, {{"ipsec", all(7)}, {"ipsec_faults", {0, 1}}}},
        {"capture", 3, {{"capture_dump", all(3)}, {"capture_errors", all(2)}}},
        {"ipreass",
         3,
         {{"ipreass_views", all(5)},
          {"ipreass_vc", {2, 3}},
          {"ipreass_all_fpcs", {2}},
          {"ipreass_no_hwdb", {0, 5}}},
         {},
         {{2, walk}, {3, one_slot}, {5, walk}}},
        {"fips", 3, {{"fips_tests", {0, 2, 3, 4, 5, 6, 7, 8}}}},
    };
    bool ok = true;
    for (const auto &f : families)
        ok = family_seeds(f, families) && ok;
    lb_seeds();
    const std::pair<const char *, SeedKind> loads[] = {
        {"load", {}},
        {"load-unified", {.unified = true}},
        {"load-corrupt", {.corrupt = true}},
        {"load-filter", {.filter = "s-ams"}},
        {"load-wire", {.fitted = false}},
        {"load-short", {.payload_size = 100}},
        {"load-short-unified", {.unified = true, .payload_size = 150}},
    };
    for (const auto &[name, kind] : loads)
        snapshot_seed(name, kind);
    channel_seeds();
    scenario_seeds();
    return ok ? 0 : 1;
}
