// fuzz-options: -max_len=16384 -dict=fuzz/scenario.dict
// The lab's scenario parser: Lab::load on the input written to a file, with
// every module's sections, the layouts and the messages they build.
//
// Inputs larger than 16 KiB are passed over, and so are scenarios whose
// include entries name anything outside the target's own folder (an
// absolute path or a "/" would let the fuzzer read any file of the
// machine); yaml-cpp's own limits (nesting depth and the like) are its
// business.
#include "fuzz/fuzz_input.h"
#include "lab/lab.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <yaml-cpp/yaml.h>

namespace {

constexpr size_t kMaxInput = 16384;

// Include entries that stay in the target's folder: plain names and patterns.
bool includes_stay_here(const std::string &text) {
    YAML::Node root;
    try {
        root = YAML::Load(text);
        if (!root.IsMap() || !root["include"])
            return true;
        YAML::Node inc = root["include"];
        if (!inc.IsSequence())
            return true;
        for (const auto &e : inc)
            if (e.IsScalar() && e.Scalar().find('/') != std::string::npos)
                return false;
    } catch (const YAML::Exception &) {
        return true; // the lab reports it
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput)
        return 0;
    std::string text(reinterpret_cast<const char *>(data), size);
    if (!includes_stay_here(text))
        return 0;
    const std::string path = std::string(vorel::fuzz::scratch_folder()) + "/scenario.yaml";
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    lab.load(path, errors);
    return 0;
}
