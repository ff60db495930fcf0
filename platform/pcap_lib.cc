#include "platform/pcap_lib.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>

namespace vorel {

namespace {

// Named by the build after the library it compiled against.
constexpr const char *kSoname = VOREL_PCAP_SONAME;

template <typename F> bool bind(void *lib, const char *name, F *fn) {
    *fn = reinterpret_cast<F>(::dlsym(lib, name));
    return *fn != nullptr;
}

// Empty when loaded, else why not.
std::string load(PcapLib &p) {
    // Never closed: the functions stay bound until the program exits.
    void *lib = ::dlopen(kSoname, RTLD_NOW | RTLD_LOCAL);
    bool ok = lib && bind(lib, "pcap_open_dead", &p.open_dead) &&
              bind(lib, "pcap_close", &p.close) && bind(lib, "pcap_dump_fopen", &p.dump_fopen) &&
              bind(lib, "pcap_dump", &p.dump) && bind(lib, "pcap_dump_flush", &p.dump_flush) &&
              bind(lib, "pcap_dump_close", &p.dump_close);
    if (ok)
        return {};
    const char *why = ::dlerror();
    return why ? why : "a function is missing";
}

} // namespace

const PcapLib *pcap_lib() {
    static PcapLib lib{};
    static const std::string failure = load(lib);
    if (failure.empty())
        return &lib;
    std::fprintf(stderr, "vorel: unable to load %s: %s\n", kSoname, failure.c_str());
    return nullptr;
}

} // namespace vorel
