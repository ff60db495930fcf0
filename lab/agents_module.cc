#include "lab/agents_module.h"
#include "lab/fips_agent.h"

#include "platform/bytes.h"
#include "platform/services_ui.h"
#include "platform/sockio.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vorel::lab {

namespace {

// A request is msg_len 32-bit words; anything longer than this is not a
// request but a broken peer.
constexpr size_t kMaxRequest = 1u << 20;
// Answers go out in writes of about this size.
constexpr size_t kFlushAt = 1u << 20;

struct FaultName {
    const char *name;
    FaultKind kind;
};

const FaultName kFaults[] = {
    {"no_answer", FaultKind::NoAnswer},   {"delay", FaultKind::Delay},
    {"close", FaultKind::Close},          {"truncate", FaultKind::Truncate},
    {"lie_length", FaultKind::LieLength}, {"wrong_type", FaultKind::WrongType},
    {"drop_end", FaultKind::DropEnd},
};

int line_of(const YAML::Node &n) {
    YAML::Mark m = n.Mark();
    return m.is_null() ? 0 : m.line + 1;
}

// Reads one request: the 8-byte header, then the rest of its msg_len words.
bool read_request(StreamReader &in, std::vector<uint8_t> &req) {
    uint8_t hdr[kMsgHeaderSize];
    if (in.read_full(hdr, sizeof hdr) != static_cast<ssize_t>(sizeof hdr))
        return false;
    size_t words = ByteReader(hdr, sizeof hdr).be16(kMsgLenOffset);
    size_t size = words * 4;
    if (size < kMsgHeaderSize || size > kMaxRequest)
        return false;
    req.assign(hdr, hdr + sizeof hdr);
    req.resize(size);
    size_t rest = size - sizeof hdr;
    return rest == 0 || in.read_full(req.data() + sizeof hdr, rest) == static_cast<ssize_t>(rest);
}

bool rule_matches(const AgentMatch &m, const ByteReader &req) {
    if (m.type && req.be16(kMsgTypeOffset) != *m.type)
        return false;
    if (m.version && req.be16(kMsgVersionOffset) != *m.version)
        return false;
    if (m.svc_set_id && req.be16(kMsgSvcSetOffset) != *m.svc_set_id)
        return false;
    for (const auto &[off, want] : m.bytes)
        if (!req.has(off, want.size()) ||
            std::memcmp(req.data() + off, want.data(), want.size()) != 0)
            return false;
    return true;
}

// Streams one answer into the connection in large writes, applying the
// rule's fault to what goes out.
class AnswerStream : public FrameSink {
  public:
    // out is the serving thread's buffer, kept from answer to answer.
    AnswerStream(int fd, const AgentFault &f, std::vector<uint8_t> &out)
        : fd_(fd), fault_(f), out_(out) {
        if (f.kind == FaultKind::Close)
            budget_ = f.after_bytes;
        out_.clear();
        out_.reserve(kFlushAt + 64 * 1024);
    }

    // Every copy of m as a frame of `kind`; the template is encoded once and
    // only the varying fields are written per copy.
    void message(uint8_t kind, const MessageSpec &m) {
        std::vector<uint8_t> rewritten;
        const std::vector<uint8_t> &tmpl = faulted(m.bytes, rewritten);
        size_t len = tmpl.size();
        if (fault_.kind == FaultKind::Truncate)
            len = std::min<uint64_t>(len, fault_.after_bytes);
        for (uint64_t i = 0; i < m.repeat && ok_; i++) {
            uint8_t *msg = append_frame(kind, len);
            // An empty message has nothing to copy, and its vector no storage.
            if (len)
                std::memcpy(msg, tmpl.data(), len);
            m.patch(msg, len, i);
            if (out_.size() >= kFlushAt)
                flush();
        }
    }

    // Room for one frame of an answer computed from a table.
    uint8_t *frame(uint8_t kind, size_t len) override {
        if (out_.size() >= kFlushAt)
            flush();
        return append_frame(kind, len);
    }

    void end_frame(uint8_t kind) {
        if (ok_)
            append_frame(kind, 0);
    }

    // Sends what is buffered; false once the peer is gone or the close
    // fault's budget is spent.
    bool flush() {
        size_t n = static_cast<size_t>(std::min<uint64_t>(out_.size(), budget_ - sent_));
        if (n && !write_full(fd_, out_.data(), n))
            ok_ = false;
        sent_ += n;
        out_.clear();
        if (sent_ >= budget_)
            ok_ = false;
        return ok_;
    }

  private:
    uint8_t *append_frame(uint8_t kind, size_t len) {
        size_t at = out_.size();
        out_.resize(at + SERVICES_UI_FRAME_HEADER + len);
        uint8_t *p = out_.data() + at;
        p[0] = kind;
        store_be(p + 4, 4, len);
        return p + SERVICES_UI_FRAME_HEADER;
    }

    // The message as the fault makes the agent send it: msg itself, or
    // its copy in `copy` with a header field rewritten.
    const std::vector<uint8_t> &faulted(const std::vector<uint8_t> &msg,
                                        std::vector<uint8_t> &copy) const {
        bool type = fault_.kind == FaultKind::WrongType && msg.size() >= kMsgTypeOffset + 2;
        bool length = fault_.kind == FaultKind::LieLength && msg.size() >= kMsgLenOffset + 2;
        if (!type && !length)
            return msg;
        copy = msg;
        if (type)
            store_be(&copy[kMsgTypeOffset], 2, fault_.type);
        if (length)
            store_be(&copy[kMsgLenOffset], 2, fault_.msg_len);
        return copy;
    }

    int fd_;
    const AgentFault &fault_;
    std::vector<uint8_t> &out_;
    uint64_t budget_ = UINT64_MAX;
    uint64_t sent_ = 0;
    bool ok_ = true;
};

} // namespace

bool parse_pic_name(const std::string &s, unsigned &fpc, unsigned &pic) {
    size_t dash = s.rfind('-');
    std::string slots = dash == std::string::npos ? s : s.substr(dash + 1);
    unsigned v[3];
    int n = 0;
    size_t pos = 0;
    while (n < 3) {
        size_t end = pos;
        while (end < slots.size() && std::isdigit(static_cast<unsigned char>(slots[end])))
            end++;
        if (end == pos || end - pos > 3)
            return false;
        v[n++] = static_cast<unsigned>(std::stoul(slots.substr(pos, end - pos)));
        if (end == slots.size())
            break;
        if (slots[end] != '/')
            return false;
        pos = end + 1;
    }
    if (n < 2 || pos > slots.size())
        return false;
    fpc = v[0];
    pic = v[1];
    return fpc <= 255 && pic <= lab_link::kMaxPicSlot;
}

std::string Agent::label() const {
    if (linecard)
        return "linecard " + std::to_string(fpc) + " " + std::to_string(port());
    return "pic " + std::to_string(fpc) + "/" + std::to_string(pic) + " " + std::to_string(port());
}

AgentsModule::AgentsModule() = default;

AgentsModule::~AgentsModule() {
    stop();
}

void AgentsModule::load(const YAML::Node &root, ScenarioReader &reader) {
    std::vector<std::string> builtin_errors;
    layouts_ = LayoutSet();
    table_forms_ = TableForms();
    layouts_.add_builtin(builtin_errors, [this](const YAML::Node &root, ScenarioReader &r) {
        if (root["tables"])
            table_forms_.add(root["tables"], layouts_, r);
    });
    for (const auto &e : builtin_errors)
        reader.error_at(-1, 0, "built-in layout: " + e);
    agents_.clear();
    load_include(root, reader);
}

void AgentsModule::load_include(const YAML::Node &root, ScenarioReader &reader) {
    if (root["structures"])
        layouts_.add_structures(root["structures"], reader);
    if (root["layouts"])
        layouts_.add(root["layouts"], reader);
    if (root["tables"])
        table_forms_.add(root["tables"], layouts_, reader);
    YAML::Node list = root["agents"];
    if (!list)
        return;
    if (!list.IsSequence()) {
        reader.error(list, "agents is a list of {pic: ... | linecard: ..., rules: [...]}");
        return;
    }
    for (const auto &n : list)
        load_agent(n, reader);
}

void AgentsModule::load_agent(const YAML::Node &n, ScenarioReader &r) {
    if (!n.IsMap() || (!n["pic"] == !n["linecard"])) {
        r.error(n, "an agent names either a pic (\"ms-1/0/0\" or {fpc, pic}) or a linecard (FPC)");
        return;
    }
    r.only_keys(n, {"pic", "linecard", "rules", "tables", "description"});
    auto a = std::make_unique<Agent>();
    if (YAML::Node p = n["pic"]) {
        if (p.IsMap()) {
            r.only_keys(p, {"fpc", "pic"});
            a->fpc = static_cast<unsigned>(r.number(p, "fpc", 255, true).value_or(0));
            a->pic =
                static_cast<unsigned>(r.number(p, "pic", lab_link::kMaxPicSlot, true).value_or(0));
        } else if (!p.IsScalar() || !parse_pic_name(p.Scalar(), a->fpc, a->pic)) {
            r.error(p, "a pic is \"ms-FPC/PIC/0\" (PIC 0..7) or {fpc: F, pic: P}");
            return;
        }
    } else {
        a->linecard = true;
        a->fpc = static_cast<unsigned>(r.as_number(n["linecard"], 255).value_or(0));
    }
    // A second entry for the same agent (from an included file, say) adds
    // its rules after the rules the agent already has.
    Agent *target = a.get();
    for (const auto &other : agents_)
        if (other->linecard == a->linecard && other->fpc == a->fpc && other->pic == a->pic)
            target = other.get();
    if (YAML::Node rules = n["rules"]) {
        if (!rules.IsSequence()) {
            r.error(rules, "rules is a list of {match, reply, large_object, times, fault}");
        } else {
            for (const auto &rn : rules) {
                AgentRule rule;
                if (load_rule(rn, r, rule))
                    target->rules.push_back(std::move(rule));
            }
        }
    }
    if (n["tables"])
        load_agent_tables(n["tables"], table_forms_, r, target->tables);
    if (target == a.get())
        agents_.push_back(std::move(a));
}

static void load_match(const YAML::Node &m, ScenarioReader &r, AgentMatch &out) {
    if (!m.IsMap()) {
        r.error(m, "match is a map {type, version, svc_set_id, bytes}");
        return;
    }
    r.only_keys(m, {"type", "version", "svc_set_id", "bytes"});
    if (auto v = r.number(m, "type", 65535))
        out.type = static_cast<uint16_t>(*v);
    if (auto v = r.number(m, "version", 65535))
        out.version = static_cast<uint16_t>(*v);
    if (auto v = r.number(m, "svc_set_id", 65535))
        out.svc_set_id = static_cast<uint16_t>(*v);
    YAML::Node b = m["bytes"];
    if (!b)
        return;
    if (!b.IsMap()) {
        r.error(b, "match bytes is a map {OFFSET: HEX}");
        return;
    }
    for (const auto &kv : b) {
        auto off = r.as_number(kv.first, kMaxRequest);
        auto want = r.bytes(kv.second);
        if (off && want)
            out.bytes.emplace_back(*off, std::move(*want));
    }
}

void load_agent_fault(const YAML::Node &f, ScenarioReader &r, AgentFault &out) {
    if (!f.IsMap()) {
        r.error(f, "fault is a map {kind, seconds, after_bytes, msg_len, type}");
        return;
    }
    r.only_keys(f, {"kind", "seconds", "after_bytes", "msg_len", "type"});
    auto kind = r.text(f, "kind", true);
    if (!kind)
        return;
    for (const auto &fn : kFaults)
        if (*kind == fn.name)
            out.kind = fn.kind;
    if (out.kind == FaultKind::None) {
        r.error(f["kind"],
                "unknown fault '" + *kind +
                    "' (no_answer, delay, close, truncate, lie_length, wrong_type, drop_end)");
        return;
    }
    // Each kind takes its own parameter; any other is a mistake in the scenario.
    const char *param = out.kind == FaultKind::Delay ? "seconds"
                        : out.kind == FaultKind::Close || out.kind == FaultKind::Truncate
                            ? "after_bytes"
                        : out.kind == FaultKind::LieLength ? "msg_len"
                        : out.kind == FaultKind::WrongType ? "type"
                                                           : nullptr;
    for (const char *p : {"seconds", "after_bytes", "msg_len", "type"})
        if (f[p] && (!param || std::strcmp(p, param) != 0))
            r.error(f[p], std::string("'") + p + "' does not apply to fault " + *kind);
    if (param && std::strcmp(param, "after_bytes") != 0 && !f[param])
        r.error(f, std::string("fault ") + *kind + " needs '" + param + "'");
    if (YAML::Node s = f["seconds"]) {
        char *end = nullptr;
        out.seconds = s.IsScalar() ? std::strtod(s.Scalar().c_str(), &end) : -1;
        if (!end || *end || !(out.seconds >= 0 && out.seconds <= 3600))
            r.error(s, "seconds is a number from 0 to 3600 (fractions allowed)");
    }
    out.after_bytes = r.number_or(f, "after_bytes", 0, UINT64_MAX);
    out.msg_len = static_cast<uint16_t>(r.number_or(f, "msg_len", 0, 65535));
    out.type = static_cast<uint16_t>(r.number_or(f, "type", 0, 65535));
}

static void load_messages(const YAML::Node &list, const LayoutSet &layouts, ScenarioReader &r,
                          std::vector<MessageSpec> &out) {
    if (!list.IsSequence()) {
        r.error(list, "a list of messages ({bytes: ...} or {layout: ..., fields: ...})");
        return;
    }
    for (const auto &m : list)
        if (auto message = read_message(m, layouts, r))
            out.push_back(std::move(*message));
}

bool AgentsModule::load_rule(const YAML::Node &n, ScenarioReader &r, AgentRule &rule) {
    if (!n.IsMap()) {
        r.error(n, "a rule is a map {match, reply, large_object, times, fault}");
        return false;
    }
    r.only_keys(n, {"match", "reply", "large_object", "times", "fault", "compute", "description"});
    rule.line = line_of(n);
    if (n["match"])
        load_match(n["match"], r, rule.match);
    if (n["reply"])
        load_messages(n["reply"], layouts_, r, rule.reply);
    if (YAML::Node lo = n["large_object"]) {
        rule.has_object = true;
        if (!lo.IsMap()) {
            r.error(lo, "large_object is a map {type, parts}");
        } else {
            r.only_keys(lo, {"type", "parts"});
            if (lo["parts"])
                load_messages(lo["parts"], layouts_, r, rule.parts);
            // The object's type goes into the header of parts built from a
            // layout, unless the part sets its header type itself.
            if (auto type = r.number(lo, "type", 65535))
                for (auto &p : rule.parts)
                    if (!p.type_fixed && p.bytes.size() >= 2)
                        store_be(&p.bytes[kMsgTypeOffset], 2, *type);
        }
    }
    if (n["times"]) {
        rule.times = r.number_or(n, "times", 1, UINT64_MAX);
        if (rule.times == 0)
            r.error(n["times"], "times is at least 1");
    }
    if (n["fault"])
        load_agent_fault(n["fault"], r, rule.fault);
    if (YAML::Node c = n["compute"]) {
        if (!c.IsScalar() || c.as<std::string>() != "fips")
            r.error(c, "compute names what the agent computes: fips");
        else
            rule.compute_fips = true;
    }
    return true;
}

int AgentsModule::start(Runtime &rt, std::string &err) {
    rt_ = &rt;
    stopping_ = false;
    rt.resets.push_back([this] { reset(); });
    for (auto &a : agents_) {
        in_addr addr{};
        bool ok = a->linecard ? lab_link::linecard_agent_address(a->fpc, addr, rt.net)
                              : lab_link::pic_agent_address(a->fpc, a->pic, addr, rt.net);
        a->listen_fd = ok ? tcp_listen(addr, a->port()) : -1;
        if (a->listen_fd < 0) {
            int e = ok ? errno : EINVAL;
            char text[INET_ADDRSTRLEN] = "?";
            inet_ntop(AF_INET, &addr, text, sizeof text);
            err = "agent " + a->label() + ": cannot listen on " + text + ":" +
                  std::to_string(a->port()) + ": " + errno_text(e);
            close_listeners();
            return e;
        }
    }
    std::vector<int> listeners;
    for (auto &a : agents_)
        listeners.push_back(a->listen_fd);
    if (!server_.start(listeners, [this](size_t i, int fd) { return admit(*agents_[i], fd); })) {
        int e = errno;
        err = "agents: cannot watch the listeners: " + errno_text(e);
        close_listeners();
        return e;
    }
    return 0;
}

void AgentsModule::reset() {
    for (auto &a : agents_) {
        std::lock_guard<std::mutex> g(a->mu);
        for (auto &rule : a->rules)
            rule.used = 0;
        for (auto &t : a->tables)
            t->reset();
    }
}

void AgentsModule::close_listeners() {
    for (auto &a : agents_) {
        if (a->listen_fd >= 0)
            ::close(a->listen_fd);
        a->listen_fd = -1;
    }
}

void AgentsModule::stop() {
    stopping_ = true;
    server_.stop_accepting();
    log_backlog();
    close_listeners();
    {
        std::lock_guard<std::mutex> g(conn_mu_);
        for (int fd : open_fds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    server_.join();
}

// Numbers and lists the connection as it is accepted (the order in which
// a later connection waits for earlier ones).
ConnectionServer::Job AgentsModule::admit(Agent &a, int fd) {
    std::lock_guard<std::mutex> g(conn_mu_);
    open_fds_.push_back(fd);
    Connection &c = connections_.emplace_back();
    c.agent = &a;
    c.seq = ++accepted_;
    c.fd = fd;
    return [this, &a, fd, &c] { serve(a, fd, c); };
}

// A command that has ended may have left requests no agent has read yet
// (a clear whose answer it does not wait for, sent just before it exits):
// the connections still waiting to be accepted are taken, and the requests
// they hold are logged, unanswered, so that the log has all that was sent.
void AgentsModule::log_backlog() {
    for (auto &a : agents_) {
        if (a->listen_fd < 0)
            continue;
        // The listener blocks: ask first whether a connection waits.
        pollfd waiting{a->listen_fd, POLLIN, 0};
        while (::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN)) {
            int fd = ::accept4(a->listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                break;
            std::vector<uint8_t> req;
            StreamReader in(fd);
            while (read_request(in, req))
                rt_->request_log.add(a->label() + " " + to_hex(req.data(), req.size()));
            ::close(fd);
        }
    }
}

// A command that sends a request without waiting for its answer (a clear)
// and the next command that asks the same agent reach it on two
// connections, served by two threads: the later connection's request waits
// until the earlier connections of its agent hold no request that is not
// answered yet, so that the agent sees them in the order they were sent.
void AgentsModule::set_busy(Connection &c, bool busy) {
    std::lock_guard<std::mutex> g(conn_mu_);
    c.busy = busy;
}

void AgentsModule::wait_for_earlier_requests(const Connection &c) {
    using namespace std::chrono;
    auto give_up = steady_clock::now() + seconds(1); // a request that never completes
    while (!stopping_ && steady_clock::now() < give_up) {
        bool waiting = false;
        {
            std::lock_guard<std::mutex> g(conn_mu_);
            for (const auto &o : connections_) {
                int unread = 0;
                if (o.agent == c.agent && o.seq < c.seq && o.fd >= 0 &&
                    (o.busy || (::ioctl(o.fd, FIONREAD, &unread) == 0 && unread > 0))) {
                    waiting = true;
                    break;
                }
            }
        }
        if (!waiting)
            return;
        std::this_thread::sleep_for(microseconds(200));
    }
}

void AgentsModule::serve(Agent &a, int fd, Connection &c) {
    std::vector<uint8_t> req;
    StreamReader in(fd);
    for (;;) {
        // Busy before the request leaves the socket, so that a later
        // connection always finds it either unread or in hand; a request
        // that came with the one before is in hand already.
        pollfd readable{fd, POLLIN, 0};
        while (!in.buffered() && ::poll(&readable, 1, -1) < 0 && errno == EINTR) {
        }
        set_busy(c, true);
        if (!read_request(in, req))
            break;
        wait_for_earlier_requests(c);
        rt_->request_log.add(a.label() + " " + to_hex(req.data(), req.size()));
        if (stopping_)
            continue; // what the connection still holds is logged, not answered
        const AgentRule *rule = nullptr;
        ByteReader r(req);
        {
            std::lock_guard<std::mutex> g(a.mu);
            for (auto &candidate : a.rules) {
                if ((candidate.times && candidate.used >= candidate.times) ||
                    !rule_matches(candidate.match, r))
                    continue;
                candidate.used++;
                rule = &candidate;
                break;
            }
        }
        if (rt_->verbose)
            std::fprintf(stderr, "vorel-lab: %s: request %u version %u, %zu bytes: %s\n",
                         a.label().c_str(), r.be16(kMsgTypeOffset), r.be16(kMsgVersionOffset),
                         req.size(),
                         rule ? ("rule at line " + std::to_string(rule->line)).c_str() : "no rule");
        if (rule && rule->fault.kind == FaultKind::Delay)
            set_busy(c, in.buffered() > 0); // a later connection need not wait out the delay
        if (!answer(fd, a, rule, r))
            break;
        set_busy(c, in.buffered() > 0);
    }
    {
        std::lock_guard<std::mutex> g(conn_mu_);
        auto it = std::find(open_fds_.begin(), open_fds_.end(), fd);
        if (it != open_fds_.end())
            open_fds_.erase(it);
        ::close(fd);
        connections_.remove_if([&c](const Connection &o) { return &o == &c; });
    }
}

// Waits `seconds`, but no longer than the lab runs.
bool AgentsModule::pause(double seconds) {
    using namespace std::chrono;
    auto until =
        steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds));
    while (!stopping_) {
        steady_clock::duration left = until - steady_clock::now();
        if (left <= steady_clock::duration::zero())
            return true;
        std::this_thread::sleep_for(std::min<steady_clock::duration>(left, milliseconds(20)));
    }
    return false;
}

// Sends the rule's answer (just the answer end when no rule matched).
// false when the connection is to be closed.
bool AgentsModule::answer(int fd, Agent &a, const AgentRule *rule, const ByteReader &req) {
    static const AgentFault kNoFault;
    const AgentFault &fault = rule ? rule->fault : kNoFault;
    if (fault.kind == FaultKind::NoAnswer)
        return true;
    if (fault.kind == FaultKind::Delay && !pause(fault.seconds))
        return false;
    // Reserving a fresh megabyte for each answer cost more than the answer.
    thread_local std::vector<uint8_t> buffer;
    AnswerStream out(fd, fault, buffer);
    if (rule) {
        for (const auto &m : rule->reply)
            out.message(SERVICES_UI_FRAME_REPLY, m);
        if (rule->compute_fips)
            for (auto &bytes : fips_answer(req)) {
                MessageSpec m;
                m.bytes = std::move(bytes);
                out.message(SERVICES_UI_FRAME_REPLY, m);
            }
        if (rule->has_object) {
            for (const auto &p : rule->parts)
                out.message(SERVICES_UI_FRAME_PART, p);
            out.end_frame(SERVICES_UI_FRAME_OBJECT_END);
        }
    } else {
        std::lock_guard<std::mutex> g(a.mu);
        if (const TableService *service = table_forms_.service_for(req, a.tables))
            answer_from_tables(*service, a.tables, req, out);
    }
    if (fault.kind != FaultKind::DropEnd)
        out.end_frame(SERVICES_UI_FRAME_ANSWER_END);
    bool ok = out.flush();
    return ok && fault.kind != FaultKind::Close;
}

} // namespace vorel::lab
