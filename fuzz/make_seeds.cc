// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/):
//
//   fuzz_make_seeds SOURCE_DIR
//
//  - command families: the agents' replies in the scenarios of the
//    end-to-end cases (tests/e2e/cases/<family>_*.yaml), one set of seeds
//    per scenario, encoded by the lab's own layouts and laid out as the
//    family target reads its input (fuzz_command.h);
//  - snapshot: what the lab answers the real loader for the routers of
//    the snapshot and main end-to-end cases and of robust_kernel;
//  - channel: scripts and agent streams with replies, parts and ends;
//  - scenario: the scenarios of the end-to-end cases, of tests/data and of
//    the demo router.
//
// The seeds are committed; run this again after a layout or a case changes.
// A target's old seeds go first, but for those written by hand (hand-*).
#include "fuzz/families/lb_vectors.h"
#include "lab/lab.h"
#include "lab/layouts.h"
#include "lab/scenario.h"
#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/rtslib.h"
#include "platform/rtslib_wire.h"
#include "platform/services_ui.h"
#include "platform/xml.h"
#include "tests/support/argv.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <string>
#include <unistd.h>
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

// A scenario of the end-to-end cases: the file it is read from and its
// root; inline when it is written in its case file.
struct CaseScenario {
    std::string file;
    YAML::Node root;
    bool inline_in_case;
};

// The scenarios of the case files (tests/e2e/cases/*.yaml) whose stems
// `wanted` takes, by name: the stem of the scenario's own file, or of the
// case file for a scenario written in it.
std::map<std::string, CaseScenario>
case_scenarios(const std::function<bool(const std::string &)> &wanted) {
    std::map<std::string, CaseScenario> out;
    for (const auto &e : fs::directory_iterator(fs::path(g_root) / "tests" / "e2e" / "cases")) {
        std::string file = e.path().string(), name = e.path().stem().string();
        // Case files only (a folder there holds a case file's expected outputs).
        if (!e.is_regular_file() || e.path().extension() != ".yaml" || !wanted(name))
            continue;
        YAML::Node scenario = YAML::LoadFile(file)["scenario"];
        bool written_here = !scenario.IsScalar();
        if (!written_here) { // a file of its own, named from the case file's folder
            fs::path named = e.path().parent_path() / scenario.as<std::string>();
            file = named.string();
            name = named.stem().string();
            scenario = YAML::LoadFile(file);
        }
        if (scenario.IsMap())
            out.emplace(name, CaseScenario{file, scenario, written_here});
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
    auto scenarios = case_scenarios([&](const std::string &stem) {
        return of(stem, f) && std::none_of(families.begin(), families.end(), [&](const Family &g) {
                   return g.name.size() > f.name.size() && of(stem, g);
               });
    });
    std::erase_if(scenarios,
                  [](const auto &s) { return !YAML::Node(s.second.root)["agents"].size(); });
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
            auto agents = agent_replies(scenario.file, scenario.root,
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

// ---- Kernel answers written out ----

// The kernel's answers when the msp family is asked for bundle ams0: the
// bundle with member mams-3/0/0 (the family target's snapshot holds it and
// its twin ms-3/0/0), once to know it for a bundle, once for its members.
Bytes ams0_members() {
    rtslib_ifd_record r;
    r.index = 20;
    r.name = "ams0";
    r.flags = RTSLIB_IFD_F_AUTHORITATIVE;
    r.devtype = 153;
    rtslib_lb_options lb;
    lb.mode = RTSLIB_LB_MODE_MEMBERS;
    lb.members = {{RTSLIB_LB_MEMBER_SERVICE, 0, 0, "mams-3/0/0"}};
    r.attrs.push_back({RTSLIB_ATTR_LOAD_BALANCING, rtslib_lb_encode(lb)});
    ByteAppender a;
    for (int i = 0; i < 2; i++) {
        a.u8(0);
        chunk(a, wire::encode_ifd(r));
    }
    return a.take();
}

// The chassis services' answers, one per call: a text value, or null for
// "no such value".
Bytes chassis_answers(std::initializer_list<const char *> values) {
    ByteAppender a;
    for (const char *v : values) {
        ByteAppender value;
        if (v)
            value.str16(v);
        a.u8(v ? 0 : ENOENT);
        chunk(a, value.take());
    }
    return a.take();
}

// ---- Snapshot ----

// What a lab serving the scenario answers on the control socket while run
// asks it, as the control socket's fake reads it (fakes.h): a status byte
// and a chunk per call.  Configuration records and tunnel groups are marked
// "fitted" (their length fields follow the chunk), so that the fuzzer may
// cut or grow their payloads; with cut, every kernel answer but the
// interface records is written cut to half its length, not fitted.
Bytes lab_answers(const std::string &scenario, const std::function<void()> &run, bool cut = false) {
    namespace link = vorel::lab_link;
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    std::string err,
        socket = fs::temp_directory_path() / ("vorel-seeds-" + std::to_string(::getpid()));
    if (!lab.load(scenario, errors) || !lab.start(0, socket, err)) {
        std::fprintf(stderr, "fuzz_make_seeds: %s: %s\n", scenario.c_str(),
                     errors.empty() ? err.c_str() : errors[0].c_str());
        return {};
    }
    ByteAppender a;
    std::mutex mu;
    for (auto &[service, handler] : lab.runtime().services)
        handler = [&, service = service, inner = handler](uint16_t op, vorel::ByteReader body) {
            link::Answer answer = inner(op, body);
            bool kernel = service == link::kKernel,
                 fitted = kernel && !cut && !answer.status &&
                          (op == link::kGencfgGet || op == link::kL2tpGroupGet);
            Bytes written = answer.body;
            if (cut && kernel && op != link::kIfdByIndex && op != link::kIfdByName)
                written.resize(written.size() / 2);
            std::lock_guard lock(mu);
            a.u8(fitted ? 0xfe : static_cast<uint8_t>(answer.status));
            chunk(a, written);
            return answer;
        };
    ::setenv("VOREL_LAB_SOCKET", socket.c_str(), 1);
    ::setenv("VOREL_LAB_NET", std::to_string(lab.net()).c_str(), 1);
    run();
    lab.stop();
    return a.take();
}

// The kernel's answers to whole loads of the routers of the snapshot and
// main end-to-end cases and of robust_kernel: each load in text and XML, a
// load with a filter naming the router's first service set, and one whose
// records are cut short (the library's refusals of malformed records).
void snapshot_seeds() {
    auto scenarios = case_scenarios([](const std::string &stem) {
        return stem.rfind("snapshot_", 0) == 0 || stem.rfind("main_", 0) == 0 ||
               stem == "robust_kernel";
    });
    const std::string inline_file = fs::temp_directory_path() / "vorel-seeds-scenario.yaml";
    for (auto &[name, scenario] : scenarios) {
        if (scenario.inline_in_case)
            std::ofstream(inline_file) << YAML::Dump(scenario.root);
        const std::string &file = scenario.inline_in_case ? inline_file : scenario.file;
        YAML::Node sets = scenario.root["service_sets"];
        std::string filter =
            sets.size() && sets[0]["name"] ? sets[0]["name"].as<std::string>() : "";
        const struct {
            const char *suffix;
            uint8_t mode; // bit 0 XML, bit 1 the filter
            bool cut;
        } variants[] = {
            {"-text", 0, false}, {"-xml", 1, false}, {"-filter", 2, false}, {"-cut", 0, true}};
        for (const auto &v : variants) {
            if (v.mode == 2 && filter.empty())
                continue;
            ByteAppender a;
            a.u8(v.mode);
            if (v.mode == 2)
                chunk(a, Bytes(filter.begin(), filter.end()));
            Bytes answers = lab_answers(
                file,
                [&] {
                    vorel_db_clear();
                    vorel_db_init(nullptr, v.mode == 2 ? filter.c_str() : nullptr, 0);
                    vorel_db_clear();
                },
                v.cut);
            a.bytes(answers.data(), answers.size());
            write_seed("snapshot", name + v.suffix, a.take());
        }
    }
    fs::remove(inline_file);
}

// ---- Load-balancing bundles (the lb target) ----

// The monitor's reply: message 18 with the state word at 12.
void monitor_reply(ByteAppender &a, uint32_t state) {
    a.u8(0); // the connection opens
    vorel::ByteWriter w(18);
    w.be16(0, 18);
    w.be32(2 + 12, state);
    chunk(a, w.take());
}

struct HandlerExited {};

// For argument vectors of the lb target (fuzz/families/lb_vectors.h): what
// a lab of tests/data/lb_gateway.yaml (or lb_faults.yaml, bundles it cannot
// read) answers the real handler, then the monitor's replies (a monitor
// that refuses the connection, or the states it says).  lb.yaml lists the
// bundles: ams0 the anchor with mams-2/0/0 in sync and mams-3/1/0 in
// progress, ams3 inline.
void lb_seeds() {
    constexpr uint32_t kInSync = 0xABC123, kInProgress = 0xABC124;
    const struct {
        const char *name, *router;
        uint8_t vector;
        std::vector<uint32_t> monitor_states;
        bool monitor_refuses = false;
    } seeds[] = {
        {"show", "lb_gateway", 0, {}},
        {"show-detail", "lb_gateway", 1, {kInSync, kInProgress}},
        {"show-detail-ams0", "lb_gateway", 2, {kInProgress, 0x12345678}},
        {"switchover-in-sync", "lb_gateway", 3, {kInSync}},
        {"switchover-in-progress", "lb_gateway", 3, {kInProgress}},
        {"switchover-force-refused", "lb_gateway", 4, {}, true},
        {"switchover-inline", "lb_gateway", 5, {}},
        {"faults-show", "lb_faults", 0, {}},
        {"faults-show-detail", "lb_faults", 1, {}},
    };
    std::FILE *discarded = std::fopen("/dev/null", "w");
    xml_set_output(discarded);
    xml_set_mode(true);
    vorel_set_exit_hook([](int) { throw HandlerExited{}; });
    for (const auto &s : seeds) {
        std::string router = g_root + "/tests/data/" + s.router + ".yaml";
        Bytes kernel = lab_answers(router, [&] {
            std::vector<std::string> words = vorel::fuzz::kLbVectors[s.vector];
            words.insert(words.begin(), "vorel");
            vorel::testing::Argv argv(words);
            vorel_ctx ctx;
            ctx.optstring = vorel_optstring;
            ctx.xml = 1;
            vorel_getopt_reset();
            try {
                vorel_handle_lb_command(argv.argc(), argv.argv(), &ctx);
            } catch (const HandlerExited &) {
            }
            xml_subtree_unwind();
        });
        ByteAppender a;
        a.u8(1 | 8); // XML, kernel answers
        a.u8(s.vector);
        chunk(a, kernel);
        if (s.monitor_refuses)
            a.u8(1);
        for (uint32_t state : s.monitor_states)
            monitor_reply(a, state);
        write_seed("lb", s.name, a.take());
    }
    vorel_set_exit_hook(nullptr);
    xml_set_output(nullptr);
    std::fclose(discarded);
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
    for (const auto &[name, scenario] : case_scenarios([](const std::string &) { return true; }))
        if (scenario.inline_in_case) {
            std::string text = YAML::Dump(scenario.root);
            write_seed("scenario", "e2e-" + name, Bytes(text.begin(), text.end()));
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
    snapshot_seeds();
    channel_seeds();
    scenario_seeds();
    return ok ? 0 : 1;
}
