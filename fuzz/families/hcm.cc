// fuzz-options: -max_len=65536 -dict=fuzz/hcm.dict
// -C hcm: tag-rule statistics (a counted table of terms), plug-in
// counters and their clears, from fuzzed replies.  The package check asks
// a stand-in for the sibling command that lists "hcm" on every PIC.
#include "fuzz/fuzz_command.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char g_lister_path[] = "/tmp/vorel-fuzz-mvorel-XXXXXX";

void remove_package_lister() {
    unlink(g_lister_path);
}

// A sibling command that answers every package question with "hcm".
void install_package_lister() {
    char *path = g_lister_path;
    int fd = mkstemp(path);
    if (fd < 0)
        std::abort();
    const std::string script = "#!/bin/sh\necho hcm\n";
    if (write(fd, script.data(), script.size()) != static_cast<ssize_t>(script.size()))
        std::abort();
    fchmod(fd, 0700);
    close(fd);
    setenv("VOREL_MVOREL", path, 1);
    std::atexit(remove_package_lister);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool lister = (install_package_lister(), true);
    (void)lister;
    static const vorel::fuzz::Command hcm{
        vorel_handle_hcm_command,
        {
            {"-C", "hcm", "-S", "stats"},
            {"-C", "hcm", "-S", "stats", "-r", "rule-a"},
            {"-C", "hcm", "-S", "clear_stats"},
            {"-C", "hcm", "-S", "pic_stats"},
            {"-C", "hcm", "-A", "clear_pic_stats"},
            {"-C", "hcm", "-S", "stats", "-i", "ms-1/0/0.0"},
        },
    };
    return vorel::fuzz::run_command(hcm, data, size);
}
