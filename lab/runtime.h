// What the parts of the lab share while it runs: the control socket's
// service table, the agent network, and the logs that tests read back.
#pragma once

#include "platform/bytes.h"
#include "platform/lab_link.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>
#include <yaml-cpp/yaml.h>

namespace vorel::lab {

class ScenarioReader;

// A control-socket service: gets the operation and its body, fills the
// answer (status 0 or an error number, and a body).
using ControlHandler = std::function<lab_link::Answer(uint16_t op, ByteReader body)>;

// Lines appended by any thread, read back by tests through the control
// socket and written to a file when the lab stops.
class LineLog {
  public:
    void add(std::string line);
    std::string text() const;

  private:
    mutable std::mutex mu_;
    std::vector<std::string> lines_;
};

struct Runtime {
    unsigned net = lab_link::kDefaultNet; // second octet of the agent addresses
    std::string name;                     // the scenario's name, for ping and logs
    std::map<uint16_t, ControlHandler> services;
    LineLog request_log;    // "pic 1/0 6200 <hex request>" per request an agent received
    LineLog kernel_changes; // one line per state change asked of the kernel
    // What `vorel-lab reset` calls: each module puts its state back as loaded.
    std::vector<std::function<void()>> resets;
    std::atomic<bool> stopping{false};
    bool verbose = false;
};

// One part of the emulated router.  The lab loads every module from the
// same scenario document, then starts them all; a module that cannot bind
// its addresses answers EADDRINUSE so that the lab can move to another net.
class Module {
  public:
    virtual ~Module() = default;
    virtual const char *name() const = 0;
    // Reads this module's sections of the scenario; faults go to reader.
    virtual void load(const YAML::Node &root, ScenarioReader &reader) = 0;
    // Reads the sections of a file the scenario includes: by default the
    // same as load (modules add what the file holds to what they have).
    virtual void load_include(const YAML::Node &root, ScenarioReader &reader) {
        load(root, reader);
    }
    // Registers control services and opens listeners.  0 or an error number
    // (err holds the explanation).
    virtual int start(Runtime &rt, std::string &err) = 0;
    // Closes listeners and ends the module's threads.
    virtual void stop() = 0;
    // The top-level scenario keys this module reads (unknown keys are errors).
    virtual std::vector<std::string> sections() const = 0;
};

} // namespace vorel::lab
