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
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::string> inputs_of(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return {};
    if (!S_ISDIR(st.st_mode))
        return {path};
    std::vector<std::string> files;
    if (DIR *d = ::opendir(path.c_str())) {
        while (dirent *e = ::readdir(d)) {
            std::string f = path + "/" + e->d_name;
            if (e->d_name[0] != '.' && ::stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                files.push_back(f);
        }
        ::closedir(d);
    }
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
