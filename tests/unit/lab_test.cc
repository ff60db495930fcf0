// The lab's scenario loading: included files and their faults.
#include "lab/lab.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct temp_dir {
    temp_dir() {
        char t[] = "/tmp/vorel-lab-test-XXXXXX";
        path = mkdtemp(t);
    }
    ~temp_dir() { std::system(("rm -rf " + path).c_str()); }
    std::string write(const std::string &name, const std::string &text) const {
        std::string p = path + "/" + name;
        std::ofstream(p) << text;
        return p;
    }
    std::string path;
};

} // namespace

TEST(LabInclude, IncludedAgentRulesFollowTheMainFilesRules) {
    temp_dir d;
    std::system(("mkdir -p " + d.path + "/more").c_str());
    d.write("more/a.yaml", "agents:\n  - pic: ms-1/0/0\n    rules:\n      - match: {type: 5}\n");
    d.write("more/b.yaml", "agents:\n  - pic: ms-2/0/0\n");
    std::string main = d.write("main.yaml", "name: t\ninclude: [more/*.yaml]\nagents:\n  - pic: ms-1/0/0\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    EXPECT_TRUE(lab.load(main, errors)) << (errors.empty() ? "" : errors[0]);
}

TEST(LabInclude, FaultsNameTheIncludedFileAndLine) {
    temp_dir d;
    d.write("part.yaml", "agents:\n  - pic: ms-1/0/0\n    rules: 7\nchassis: {master: true}\n");
    std::string main = d.write("main.yaml", "include: [part.yaml, missing.yaml]\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    ASSERT_FALSE(lab.load(main, errors));
    auto has = [&](const std::string &text) {
        for (const auto &e : errors)
            if (e == text)
                return true;
        return false;
    };
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_TRUE(has(main + ":1: include 'missing.yaml' names no file"));
    EXPECT_TRUE(has(d.path + "/part.yaml:3:12: rules is a list of {match, reply, large_object, times, fault}"));
    EXPECT_TRUE(has(d.path + "/part.yaml:4:10: the chassis section belongs in the scenario's main file"));
}

// An include pattern may name anything on the machine: only regular files
// are read, so a device or a pipe cannot hang the lab.
TEST(LabInclude, OnlyRegularFilesAreRead) {
    temp_dir d;
    std::string fifo = d.path + "/pipe.yaml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string main = d.write("main.yaml", "include: [pipe.yaml, /dev/zero]\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    ASSERT_FALSE(lab.load(main, errors));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], fifo + ": not a regular file");
    EXPECT_EQ(errors[1], "/dev/zero: not a regular file");
}
