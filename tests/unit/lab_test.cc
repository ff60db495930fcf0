#include "tests/support/lab_fixture.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using vorel::test::TempDir;

// vorel-lab exec reports a command that cannot be started, with the
// shell's status (every end-to-end case runs through exec and loads its
// scenario and includes).
TEST(LabExec, MissingCommandExitsWith127) {
    TempDir d;
    std::string lab = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vorel-lab";
    std::string scenario = d.file("main.yaml", "agents:\n  - pic: ms-1/0/0\n");
    int status = std::system(
        (lab + " exec " + scenario + " -- " + d.path + "/no-such 2>" + d.path + "/err").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
    std::ifstream f(d.path + "/err");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}),
              "vorel-lab: cannot run " + d.path + "/no-such: No such file or directory\n");
}
