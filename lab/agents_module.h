// The management agents of the service PICs and line cards.
//
// Each agent listens on its PIC's (port 6200) or line card's (port 33019)
// internal address and answers Services UI requests from the scenario's
// rules: the first rule whose match fits the request gives the answer (its
// replies, then its large object), and the agent always ends an answer with
// the answer-end frame, unless a fault of the rule says otherwise.  Every
// request is logged into the runtime's request log.
#pragma once

#include "lab/layouts.h"
#include "lab/runtime.h"
#include "lab/serving.h"
#include "lab/table_forms.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vorel::lab {

struct AgentMatch {
    std::optional<uint16_t> type;
    std::optional<uint16_t> version;
    std::optional<uint16_t> svc_set_id;
    std::vector<std::pair<size_t, std::vector<uint8_t>>> bytes; // offset, expected bytes
};

enum class FaultKind { None, NoAnswer, Delay, Close, Truncate, LieLength, WrongType, DropEnd };

struct AgentFault {
    FaultKind kind = FaultKind::None;
    double seconds = 0;       // delay
    uint64_t after_bytes = 0; // close: bytes of the answer sent first; truncate: message size
    uint16_t msg_len = 0;     // lie_length
    uint16_t type = 0;        // wrong_type
};

struct AgentRule {
    AgentMatch match;
    std::vector<MessageSpec> reply;
    bool has_object = false;
    std::vector<MessageSpec> parts;
    uint64_t times = 0; // 0: no limit
    uint64_t used = 0;  // guarded by the agent's mutex
    AgentFault fault;
    // compute: fips: the replies are the algorithm test's real answers.
    bool compute_fips = false;
    int line = 0;
};

struct Agent {
    bool linecard = false;
    unsigned fpc = 0;
    unsigned pic = 0;
    std::vector<AgentRule> rules;
    // The state the agent answers from when no rule matches (guarded by mu).
    std::vector<std::unique_ptr<AgentTable>> tables;
    int listen_fd = -1;
    std::mutex mu; // rule use counts and tables

    uint16_t port() const { return linecard ? lab_link::kLineCardPort : lab_link::kPicPort; }
    // "pic 1/0 6200" or "linecard 1 33019": how the request log names it.
    std::string label() const;
};

class AgentsModule : public Module {
  public:
    AgentsModule();
    ~AgentsModule() override;
    const char *name() const override { return "agents"; }
    void load(const YAML::Node &root, ScenarioReader &reader) override;
    // An included file adds its layouts and agents to the main file's.
    void load_include(const YAML::Node &root, ScenarioReader &reader) override;
    int start(Runtime &rt, std::string &err) override;
    void stop() override;
    std::vector<std::string> sections() const override {
        return {"agents", "structures", "layouts", "tables"};
    }

    const LayoutSet &layouts() const { return layouts_; }
    // Puts every agent's tables (and rule use counts) back as loaded.
    void reset();

  private:
    // A connection of one agent, listed while it is served; fd and busy
    // are guarded by conn_mu_.
    struct Connection {
        const Agent *agent = nullptr;
        uint64_t seq = 0; // the order of acceptance
        int fd = -1;
        bool busy = false; // between taking a request off the socket and answering it
    };

    void load_agents(const YAML::Node &list, ScenarioReader &r);
    void load_agent(const YAML::Node &n, ScenarioReader &r);
    bool load_rule(const YAML::Node &n, ScenarioReader &r, AgentRule &rule);
    ConnectionServer::Job admit(Agent &a, int fd);
    void serve(Agent &a, int fd, Connection &c);
    void set_busy(Connection &c, bool busy);
    void wait_for_earlier_requests(const Connection &c);
    bool answer(int fd, Agent &a, const AgentRule *rule, const ByteReader &req);
    bool pause(double seconds);
    void close_listeners();
    void log_backlog();

    LayoutSet layouts_;
    TableForms table_forms_;
    std::vector<std::unique_ptr<Agent>> agents_;
    Runtime *rt_ = nullptr;
    std::atomic<bool> stopping_{false};
    ConnectionServer server_;
    std::mutex conn_mu_;
    std::list<Connection> connections_;
    uint64_t accepted_ = 0;
    std::vector<int> open_fds_;
};

// Reads a rule's `fault:` map ({kind, seconds, after_bytes, msg_len, type}).
// The chassis module's monitors take the same words.
void load_agent_fault(const YAML::Node &f, ScenarioReader &r, AgentFault &out);

// Parses a PIC given as "ms-1/0/0" (any interface prefix) or "1/0".
bool parse_pic_name(const std::string &s, unsigned &fpc, unsigned &pic);

} // namespace vorel::lab
