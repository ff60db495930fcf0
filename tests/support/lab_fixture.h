// A lab serving one scenario inside the test process, with the
// environment pointing the platform at it.
#pragma once

#include "lab/lab.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorel::test {

// A scratch directory, removed with everything in it.
struct TempDir {
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vorel-test-XXXXXX").string();
        path = ::mkdtemp(tmpl.data()) ? tmpl : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    // The path of name inside the directory, written with text when given.
    std::string file(const std::string &name, const std::string &text = "") const {
        std::string p = path + "/" + name;
        if (!text.empty())
            std::ofstream(p) << text;
        return p;
    }
    std::string path;
};

class LabRun {
  public:
    // scenario_text is the YAML of the scenario itself.
    explicit LabRun(const std::string &scenario_text) {
        start(dir.file("scenario.yaml", scenario_text));
    }
    struct from_file {
        std::string path;
    };
    explicit LabRun(const from_file &f) { start(f.path); }
    ~LabRun() {
        lab.stop();
        ::unsetenv("VOREL_LAB_SOCKET");
        ::unsetenv("VOREL_LAB_NET");
    }
    std::string requests() { return lab.runtime().request_log.text(); }
    std::string changes() { return lab.runtime().kernel_changes.text(); }

    TempDir dir;
    vorel::lab::Lab lab;
    bool loaded = false;
    bool started = false;

  private:
    void start(const std::string &scenario) {
        std::vector<std::string> errors;
        loaded = lab.load(scenario, errors);
        for (const auto &e : errors)
            ADD_FAILURE() << e;
        std::string err;
        started = loaded && lab.start(0, dir.file("control.sock"), err);
        EXPECT_TRUE(started) << err;
        ::setenv("VOREL_LAB_SOCKET", lab.socket_path().c_str(), 1);
        ::setenv("VOREL_LAB_NET", std::to_string(lab.net()).c_str(), 1);
    }
};

} // namespace vorel::test
