// fuzz-options: -max_len=65536
// The snapshot loader end to end: the real kernel interface library and
// the real chassis queries read the kernel's answers from the fuzz input
// (fake_lab_link.cc), vorel_db_init builds the snapshot from them (every
// pass: interfaces, bundles and redundant pairs, PIC modes, service sets
// in both modes, major 19 records, tunnel groups, compressed payloads),
// and the listings print it.
//
// Input: byte 0 (bit 0 XML listing, bit 1 a service-set filter whose name
// is the next chunk), then one answer per control call: a status byte and
// a chunk (fakes.h).
#include "fuzz/fakes.h"
#include "fuzz/fuzz_command.h"
#include "platform/xml.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_error.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr uint8_t kModeXml = 1;
constexpr uint8_t kModeFilter = 2;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorel::fuzz::quiet_stdout();
    vorel::fuzz::Input in(data, size);
    uint8_t mode = in.byte();
    std::string filter;
    if (mode & kModeFilter) {
        vorel::ByteReader name;
        in.chunk(name);
        filter = std::string(name.text(0, SVC_SET_NAME_LEN - 1));
    }
    vorel::fuzz::control_feed(&in);
    vorel_db_clear();
    vorel_db_init(nullptr, (mode & kModeFilter) ? filter.c_str() : nullptr, 0);
    vorel::fuzz::control_feed(nullptr);

    vorel::fuzz::XmlCapture xml;
    vorel_ctx ctx;
    ctx.xml = (mode & kModeXml) ? 1 : 0;
    xml_set_mode(ctx.xml != 0);
    vorel_db_dump(&ctx);
    vorel_db_dump_svc_set_names();
    vorel_db_dump_svc_plugin_names();
    xml.finish();
    vorel_db_clear();
    return 0;
}
