// The emulated router: loads a scenario, serves the control socket and
// starts every module (kernel, chassis, agents, monitors).
#pragma once

#include "lab/runtime.h"
#include "lab/scenario.h"
#include "lab/serving.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vorel::lab {

// Every module the lab is made of, in start order.
std::vector<std::unique_ptr<Module>> make_modules();

class Lab {
  public:
    Lab();
    ~Lab();

    // Parses the scenario; false with every complaint in errors.
    bool load(const std::string &file, std::vector<std::string> &errors);
    // Starts serving.  net 0 picks a free agent network; socket is the
    // control socket's path.  false with err explained.
    bool start(unsigned net, const std::string &socket, std::string &err);
    // Blocks until stop() is called (or a kStop request arrives).
    void wait();
    void stop();

    Runtime &runtime() { return rt_; }
    // The scenario's documents as loaded, the main file first, then every
    // included file (vorel-lab draw reads them).
    const std::vector<YAML::Node> &documents() const { return documents_; }
    unsigned net() const { return rt_.net; }
    const std::string &socket_path() const { return socket_; }

  private:
    void load_document(const YAML::Node &root, ScenarioReader &reader, bool main_file);
    int serve_control(std::string &err);
    void serve_connection(int fd);
    lab_link::Answer lab_service(uint16_t op);

    Runtime rt_;
    std::vector<std::unique_ptr<Module>> modules_;
    std::vector<YAML::Node> documents_;
    std::string socket_;
    int listen_fd_ = -1;
    ConnectionServer control_;
    std::mutex mu_;
    std::vector<int> open_fds_;
    bool started_ = false;
    std::mutex stop_mu_;
    std::condition_variable stop_cv_;
};

} // namespace vorel::lab
