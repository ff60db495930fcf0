// Runs a fuzz target over saved inputs without libFuzzer, so that the
// ordinary and sanitizer builds (any compiler) replay the seed corpus and
// every crash ever found as part of the test suite.
//
//   fuzz_replay_NAME PATH...   each PATH a file or a folder of inputs
//
// A folder that does not exist is passed over (a target may have no
// regressions yet).  A crash ends the run as it would under the fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// The file itself, or the files of the folder (no hidden ones) in order.
std::vector<std::string> inputs_of(const std::string &path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(path, ec))
        return fs::exists(path, ec) ? std::vector<std::string>{path} : std::vector<std::string>{};
    std::vector<std::string> files;
    for (const auto &e : fs::directory_iterator(path, ec))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.')
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char **argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; i++) {
        for (const auto &file : inputs_of(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
            std::fprintf(stderr, "replaying %s\n", file.c_str());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            replayed++;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed\n", replayed);
    return 0;
}
