// The package check as the fuzz targets see it: whether a PIC lists a
// package comes from the fuzz input's mode bits (fakes.h describes how),
// so no fuzz run starts the sibling command, a process per PIC.
#include "fuzz/fakes.h"
#include "vorel/vorel_files.h"
#include "vorel/vorel_util.h"

namespace {

bool g_fed = false;
uint8_t g_missing = 0; // bit k: the package is missing on checks k, k + 4, ...
unsigned g_checks = 0;

constexpr unsigned kAnswerBits = 4;

} // namespace

namespace vorel::fuzz {

void package_feed(bool fed, uint8_t missing) {
    g_fed = fed;
    g_missing = missing;
    g_checks = 0;
}

} // namespace vorel::fuzz

int vorel_util_is_pkg_installed(unsigned, unsigned, const char *pkg_name) {
    // A name the real check refuses is refused here too.
    if (!g_fed || !pkg_name || !vorel_is_safe_package_name(pkg_name))
        return 0;
    unsigned bit = g_checks++ % kAnswerBits;
    return (g_missing >> bit & 1) ? 0 : 1;
}
