// libpcap, loaded on first use.  Only the capture command writes pcap, and
// the library brings ten more with it (D-Bus, systemd, libgcrypt and their
// compressors): linked in, they would cost every command about 4 ms of
// start-up, most of a short command's run.
#pragma once

#include <pcap/pcap.h>

namespace vorel {

// The functions the program calls, as the library defines them.
struct PcapLib {
    decltype(&::pcap_open_dead) open_dead;
    decltype(&::pcap_close) close;
    decltype(&::pcap_dump_fopen) dump_fopen;
    decltype(&::pcap_dump) dump;
    decltype(&::pcap_dump_flush) dump_flush;
    decltype(&::pcap_dump_close) dump_close;
};

// The library, loaded the first time it is asked for; nullptr, after a
// message on standard error, when it cannot be loaded (each time asked).
const PcapLib *pcap_lib();

} // namespace vorel
