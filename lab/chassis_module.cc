#include "lab/chassis_module.h"
#include "lab/agents_module.h"

#include "lab/scenario.h"
#include "lab/serving.h"
#include "platform/bytes.h"
#include "platform/chassis.h"
#include "platform/lab_link.h"
#include "platform/pconn.h"
#include "platform/sockio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace vorel::lab {

namespace {

namespace key = chassis_key;

// The synchronisation monitor's messages.
constexpr uint16_t kSyncStateRequest = 15;
constexpr uint16_t kSyncStateReply = 18;
constexpr size_t kRequestNameOffset = 128;
constexpr size_t kRequestNameWidth = 60;
constexpr size_t kReplyBodySize = 16;
constexpr size_t kReplyStateOffset = 12;

// "ms-1/0/0" -> fpc 1, pic 0: the two numbers after the first '-'.
bool parse_pic_name(const std::string &name, unsigned &fpc, unsigned &pic) {
    size_t dash = name.find('-');
    if (dash == std::string::npos)
        return false;
    unsigned v[2];
    size_t pos = dash + 1;
    for (unsigned &n : v) {
        size_t start = pos;
        unsigned long acc = 0;
        while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9' && pos - start < 4)
            acc = acc * 10 + static_cast<unsigned>(name[pos++] - '0');
        if (pos == start || (pos < name.size() && name[pos] != '/'))
            return false;
        n = static_cast<unsigned>(acc);
        pos++;
    }
    fpc = v[0];
    pic = v[1];
    return fpc <= 255 && pic <= lab_link::kMaxPicSlot;
}

// What a monitor answers a sync-state request with, when a scenario says
// so: a raw reply (its type and body exactly), and a fault of the agents'
// kinds that apply to one framed reply (no_answer, close, truncate,
// wrong_type).
struct MonitorAnswer {
    std::optional<uint16_t> raw_type;
    std::optional<std::vector<uint8_t>> raw_body;
    AgentFault fault;
};

// One PIC's synchronisation monitor: answers sync-state requests for the
// member names it knows, "state unavailable" for any other.
class MonitorListener {
  public:
    MonitorListener(unsigned fpc, unsigned pic, std::map<std::string, uint32_t> states,
                    MonitorAnswer how)
        : fpc_(fpc), pic_(pic), states_(std::move(states)), how_(std::move(how)) {}
    ~MonitorListener() { stop(); }

    unsigned fpc() const { return fpc_; }
    unsigned pic() const { return pic_; }

    int start(Runtime &rt, std::string &err);
    void stop();

  private:
    void serve(int fd);
    bool answer(int fd, uint16_t type, ByteReader body);
    void forget(int fd);

    unsigned fpc_, pic_;
    std::map<std::string, uint32_t> states_;
    MonitorAnswer how_;
    Runtime *rt_ = nullptr;
    int listen_fd_ = -1;
    std::atomic<bool> stopping_{false};
    ConnectionServer server_;
    std::mutex mu_;
    std::vector<int> open_fds_;
};

int MonitorListener::start(Runtime &rt, std::string &err) {
    rt_ = &rt;
    in_addr addr;
    if (!lab_link::pic_agent_address(fpc_, pic_, addr, rt.net)) {
        err = "monitor " + std::to_string(fpc_) + "/" + std::to_string(pic_) + ": no address";
        return EINVAL;
    }
    listen_fd_ = tcp_listen(addr, lab_link::kMonitorPort);
    if (listen_fd_ < 0) {
        int e = errno;
        err = "monitor " + std::to_string(fpc_) + "/" + std::to_string(pic_) + " port " +
              std::to_string(lab_link::kMonitorPort) + ": " + errno_text(e);
        return e;
    }
    stopping_ = false;
    bool ok = server_.start({listen_fd_}, [this](size_t, int fd) {
        std::lock_guard<std::mutex> g(mu_);
        open_fds_.push_back(fd);
        return [this, fd] { serve(fd); };
    });
    if (!ok) {
        int e = errno;
        err = "monitor " + std::to_string(fpc_) + "/" + std::to_string(pic_) + ": " + errno_text(e);
        ::close(listen_fd_);
        listen_fd_ = -1;
        return e;
    }
    return 0;
}

void MonitorListener::stop() {
    stopping_ = true;
    server_.stop_accepting();
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
    listen_fd_ = -1;
    {
        std::lock_guard<std::mutex> g(mu_);
        for (int fd : open_fds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    server_.join();
}

void MonitorListener::forget(int fd) {
    std::lock_guard<std::mutex> g(mu_);
    auto it = std::find(open_fds_.begin(), open_fds_.end(), fd);
    if (it != open_fds_.end())
        open_fds_.erase(it);
    ::close(fd);
}

// Reads peer-connection frames until the client closes the connection.
void MonitorListener::serve(int fd) {
    std::vector<uint8_t> frame(PCONN_HEADER_SIZE);
    while (!stopping_) {
        frame.resize(PCONN_HEADER_SIZE);
        if (read_full(fd, frame.data(), PCONN_HEADER_SIZE) != PCONN_HEADER_SIZE)
            break;
        ByteReader hdr(frame);
        uint16_t type = hdr.be16(0);
        uint32_t len = hdr.be32(4);
        if (len > PCONN_MAX_BODY)
            break;
        frame.resize(PCONN_HEADER_SIZE + len);
        if (len && read_full(fd, frame.data() + PCONN_HEADER_SIZE, len) != ssize_t(len))
            break;
        rt_->request_log.add("monitor " + std::to_string(fpc_) + "/" + std::to_string(pic_) + " " +
                             std::to_string(lab_link::kMonitorPort) + " " +
                             to_hex(frame.data(), frame.size()));
        if (!answer(fd, type, ByteReader(frame).tail(PCONN_HEADER_SIZE)))
            break;
    }
    forget(fd);
}

// Answers a sync-state request; other messages are logged and passed over.
bool MonitorListener::answer(int fd, uint16_t type, ByteReader body) {
    if (type != kSyncStateRequest)
        return true;
    const AgentFault &fault = how_.fault;
    if (fault.kind == FaultKind::NoAnswer)
        return true;
    std::vector<uint8_t> out;
    if (how_.raw_body) {
        out = *how_.raw_body;
    } else {
        std::string member(body.text(kRequestNameOffset, kRequestNameWidth));
        auto it = states_.find(member);
        uint32_t state = it != states_.end() ? it->second : MSVCSPMON_SYNC_STATE_UNAVAILABLE;
        ByteWriter b(kReplyBodySize);
        b.be32(kReplyStateOffset, state);
        out.assign(b.data(), b.data() + b.size());
    }
    // A truncated reply is a short one: its header says the size it has.
    if (fault.kind == FaultKind::Truncate && out.size() > fault.after_bytes)
        out.resize(fault.after_bytes);
    uint16_t reply_type = how_.raw_type.value_or(kSyncStateReply);
    if (fault.kind == FaultKind::WrongType)
        reply_type = fault.type;
    ByteAppender reply;
    reply.be16(reply_type);
    reply.be16(0);
    reply.be32(static_cast<uint32_t>(out.size()));
    reply.bytes(out.data(), out.size());
    size_t n = reply.size();
    if (fault.kind == FaultKind::Close)
        n = std::min<size_t>(n, fault.after_bytes);
    if (!write_full(fd, reply.buffer().data(), n))
        return false;
    return fault.kind != FaultKind::Close;
}

class ChassisModule : public Module {
  public:
    const char *name() const override { return "chassis"; }
    std::vector<std::string> sections() const override { return {"chassis", "monitors"}; }
    void load(const YAML::Node &root, ScenarioReader &reader) override;
    void load_include(const YAML::Node &root, ScenarioReader &reader) override;
    int start(Runtime &rt, std::string &err) override;
    void stop() override;

  private:
    void load_chassis(const YAML::Node &n, ScenarioReader &r);
    void load_product(const YAML::Node &n, ScenarioReader &r);
    void load_boards(const YAML::Node &n, ScenarioReader &r);
    void load_config_db(const YAML::Node &n, ScenarioReader &r);
    void load_packages(const YAML::Node &n, ScenarioReader &r);
    void load_monitors(const YAML::Node &n, ScenarioReader &r);
    bool load_monitor_pic(const YAML::Node &n, ScenarioReader &r, unsigned &fpc, unsigned &pic);
    lab_link::Answer answer(uint16_t op, ByteReader body) const;

    std::map<std::string, std::string> values_; // key -> value; absent: ENOENT
    std::vector<std::unique_ptr<MonitorListener>> monitors_;
    size_t started_ = 0;
};

std::string flag_text(bool b) {
    return b ? "1" : "0";
}

void ChassisModule::load(const YAML::Node &root, ScenarioReader &r) {
    values_.clear();
    monitors_.clear();
    YAML::Node chassis = root["chassis"];
    if (chassis && !chassis.IsMap())
        r.error(chassis, "section 'chassis' must be a map");
    load_chassis(chassis && chassis.IsMap() ? chassis : YAML::Node(YAML::NodeType::Map), r);
    YAML::Node monitors = root["monitors"];
    if (monitors)
        load_monitors(monitors, r);
}

// An included file may add monitors; the chassis itself is described once,
// in the scenario's main file.
void ChassisModule::load_include(const YAML::Node &root, ScenarioReader &r) {
    if (YAML::Node chassis = root["chassis"])
        r.error(chassis, "the chassis section belongs in the scenario's main file");
    if (YAML::Node monitors = root["monitors"])
        load_monitors(monitors, r);
}

void ChassisModule::load_chassis(const YAML::Node &n, ScenarioReader &r) {
    r.only_keys(n, {"master", "usf_mode", "re_type", "mobile_gateway", "product", "hwdb",
                    "fpc_boards", "config_db", "packages"});
    values_[key::kMaster] = flag_text(r.flag_or(n, "master", true));
    values_[key::kUsfMode] = flag_text(r.flag_or(n, "usf_mode", false));
    if (auto t = r.number(n, "re_type", INT_MAX))
        values_[key::kReType] = std::to_string(*t);
    if (auto g = r.signed_number(n, "mobile_gateway", INT_MIN, INT_MAX))
        values_[std::string(key::kSysctlPrefix) + "hw.re.mobile_gateway"] = std::to_string(*g);
    values_[key::kHwdb] = flag_text(r.flag_or(n, "hwdb", true));

    YAML::Node product = n["product"];
    if (product && !product.IsMap())
        r.error(product, "field 'product' must be a map");
    load_product(product && product.IsMap() ? product : YAML::Node(YAML::NodeType::Map), r);
    if (n["fpc_boards"])
        load_boards(n["fpc_boards"], r);
    load_config_db(n["config_db"], r);
    if (n["packages"])
        load_packages(n["packages"], r);
}

void ChassisModule::load_product(const YAML::Node &n, ScenarioReader &r) {
    r.only_keys(n, {"walks_all_fpcs", "max_fpc_slots", "lcc_number", "max_fpc_per_lcc",
                    "forwarding_classes", "inline_reass_boards"});
    constexpr uint64_t kDefaultSlots = 12;
    uint64_t slots = r.number_or(n, "max_fpc_slots", kDefaultSlots, 255);
    values_[key::kWalksAllFpcs] = flag_text(r.flag_or(n, "walks_all_fpcs", false));
    values_[key::kMaxFpcSlots] = std::to_string(slots);
    values_[key::kLccNumber] = std::to_string(r.number_or(n, "lcc_number", 0, 255));
    values_[key::kMaxFpcPerLcc] = std::to_string(r.number_or(n, "max_fpc_per_lcc", slots, 255));
    if (auto fc = r.number(n, "forwarding_classes", 1024))
        values_[std::string(key::kFeaturePrefix) + "max_supported_forwarding_classes"] =
            std::to_string(*fc);
    std::string boards;
    YAML::Node list = n["inline_reass_boards"];
    if (list && !list.IsSequence())
        r.error(list, "field 'inline_reass_boards' must be a list of board identifiers");
    else if (list)
        for (const auto &b : list)
            if (auto id = r.as_number(b, UINT32_MAX))
                boards += (boards.empty() ? "" : " ") + std::to_string(*id);
    values_[key::kInlineReassBoards] = boards;
}

void ChassisModule::load_boards(const YAML::Node &n, ScenarioReader &r) {
    if (!n.IsMap()) {
        r.error(n, "field 'fpc_boards' must map FPC slots to board identifiers");
        return;
    }
    for (const auto &kv : n) {
        auto slot = r.as_number(kv.first, 255);
        auto id = r.as_number(kv.second, UINT32_MAX);
        if (slot && id)
            values_[key::kHwdbFpcI2cIdPrefix + std::to_string(*slot)] = std::to_string(*id);
    }
}

// A list of configured paths, or the word "unavailable" for a database
// that cannot be opened.  Absent: an empty database.
void ChassisModule::load_config_db(const YAML::Node &n, ScenarioReader &r) {
    if (n && n.IsScalar() && n.Scalar() == "unavailable")
        return;
    std::string paths;
    if (n && !n.IsSequence()) {
        r.error(n, "field 'config_db' must be a list of configuration paths or 'unavailable'");
    } else if (n) {
        for (const auto &p : n) {
            if (!p.IsScalar() || p.Scalar().find('\n') != std::string::npos) {
                r.error(p, "a configuration path is one line of text");
                continue;
            }
            paths += p.Scalar() + "\n";
        }
    }
    if (paths.size() > 0xffff)
        r.error(n, "the configuration paths exceed 65535 bytes");
    values_[key::kConfigPaths] = paths;
}

void ChassisModule::load_packages(const YAML::Node &n, ScenarioReader &r) {
    if (!n.IsMap()) {
        r.error(n, "field 'packages' must map PIC names to lists of package names");
        return;
    }
    for (const auto &kv : n) {
        const std::string &pic = kv.first.Scalar();
        unsigned fpc, slot;
        if (!parse_pic_name(pic, fpc, slot))
            r.error(kv.first, "'" + pic + "' is not a PIC name such as ms-1/0/0");
        if (!kv.second.IsSequence()) {
            r.error(kv.second, "the packages of " + pic + " must be a list of names");
            continue;
        }
        std::string names;
        for (const auto &p : kv.second) {
            if (!p.IsScalar() || p.Scalar().empty() ||
                p.Scalar().find_first_of(" \t\n") != std::string::npos) {
                r.error(p, "a package name is one word");
                continue;
            }
            names += p.Scalar() + "\n";
        }
        values_[key::kPackagesPrefix + pic] = names;
    }
}

bool ChassisModule::load_monitor_pic(const YAML::Node &n, ScenarioReader &r, unsigned &fpc,
                                     unsigned &pic) {
    if (n.IsScalar()) {
        if (parse_pic_name(n.Scalar(), fpc, pic))
            return true;
        r.error(n, "'" + n.Scalar() + "' is not a PIC name such as ms-1/0/0");
        return false;
    }
    if (n.IsMap()) {
        r.only_keys(n, {"fpc", "pic"});
        auto f = r.number(n, "fpc", 255, true);
        auto p = r.number(n, "pic", lab_link::kMaxPicSlot, true);
        if (!f || !p)
            return false;
        fpc = static_cast<unsigned>(*f);
        pic = static_cast<unsigned>(*p);
        return true;
    }
    r.error(n, "field 'pic' must be a PIC name or {fpc, pic}");
    return false;
}

void ChassisModule::load_monitors(const YAML::Node &n, ScenarioReader &r) {
    if (!n.IsSequence()) {
        r.error(n, "section 'monitors' must be a list of {pic, states, reply, fault}");
        return;
    }
    for (const auto &m : n) {
        if (!m.IsMap()) {
            r.error(m, "a monitor is a map {pic, states}");
            continue;
        }
        r.only_keys(m, {"pic", "states", "reply", "fault"});
        unsigned fpc = 0, pic = 0;
        if (!m["pic"]) {
            r.error(m, "missing field 'pic'");
            continue;
        }
        if (!load_monitor_pic(m["pic"], r, fpc, pic))
            continue;
        for (const auto &other : monitors_)
            if (other->fpc() == fpc && other->pic() == pic)
                r.error(m["pic"], "a second monitor on PIC " + std::to_string(fpc) + "/" +
                                      std::to_string(pic));
        std::map<std::string, uint32_t> states;
        YAML::Node s = m["states"];
        if (s && !s.IsMap())
            r.error(s, "field 'states' must map member names to state codes");
        else if (s)
            for (const auto &kv : s)
                if (auto code = r.as_number(kv.second, UINT32_MAX))
                    states[kv.first.Scalar()] = static_cast<uint32_t>(*code);
        MonitorAnswer how;
        if (YAML::Node reply = m["reply"]) {
            r.only_keys(reply, {"type", "bytes"});
            if (reply["type"])
                if (auto t = r.as_number(reply["type"], 65535))
                    how.raw_type = static_cast<uint16_t>(*t);
            if (reply["bytes"])
                how.raw_body = r.bytes(reply["bytes"]);
            else
                r.error(reply, "a monitor's reply needs 'bytes' (its body)");
        }
        if (YAML::Node f = m["fault"]) {
            load_agent_fault(f, r, how.fault);
            FaultKind k = how.fault.kind;
            if (k == FaultKind::Delay || k == FaultKind::LieLength || k == FaultKind::DropEnd)
                r.error(f, "a monitor's fault is no_answer, close, truncate or wrong_type");
        }
        monitors_.push_back(
            std::make_unique<MonitorListener>(fpc, pic, std::move(states), std::move(how)));
    }
}

lab_link::Answer ChassisModule::answer(uint16_t op, ByteReader body) const {
    lab_link::Answer a;
    if (op != lab_link::kGetValue) {
        a.status = ENOSYS;
        return a;
    }
    ByteCursor c(body);
    std::string k = c.str16();
    if (!c.ok()) {
        a.status = EPROTO;
        return a;
    }
    auto it = values_.find(k);
    if (it == values_.end()) {
        a.status = ENOENT;
        return a;
    }
    if (it->second.size() > 0xffff) {
        a.status = EFBIG;
        return a;
    }
    ByteAppender out;
    out.str16(it->second);
    a.body = out.take();
    return a;
}

int ChassisModule::start(Runtime &rt, std::string &err) {
    rt.services[lab_link::kChassis] = [this](uint16_t op, ByteReader body) {
        return answer(op, body);
    };
    for (started_ = 0; started_ < monitors_.size(); started_++) {
        int rc = monitors_[started_]->start(rt, err);
        if (rc) {
            // The lab stops only modules that started; undo our part.
            stop();
            return rc;
        }
    }
    return 0;
}

void ChassisModule::stop() {
    for (size_t i = 0; i < started_ && i < monitors_.size(); i++)
        monitors_[i]->stop();
    started_ = 0;
}

} // namespace

std::unique_ptr<Module> make_chassis_module() {
    return std::make_unique<ChassisModule>();
}

} // namespace vorel::lab
