// -C capture: packet captures taken on service PICs.  req_capture
// downloads a PIC's capture into a raw file and a pcap file under
// /var/tmp, dump_capture shows the packets of a raw file one by one through
// the system's tcpdump, clear_capture clears the capture on the PICs.
#include "platform/pcap_lib.h"
#include "platform/tools.h"
#include "vorel/vorel_capture_raw.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_files.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

constexpr uint16_t kInfoRequest = 252;
constexpr uint16_t kInfoReply = 253;
constexpr uint16_t kDataObject = 254;
constexpr uint16_t kClearRequest = 255;
constexpr uint16_t kClearReply = 256;
constexpr size_t kRequestSize = 16;
constexpr size_t kInfoReplySize = 27;
constexpr size_t kClearReplySize = 20;
constexpr size_t kPartLengthOffset = 16;
constexpr size_t kPartDataOffset = 20;

constexpr const char *kCaptureDir = "/var/tmp/";
constexpr size_t kPathLimit = 255;

constexpr int kLinkRawIp = 12;
constexpr int kLinkServices = 136;
constexpr size_t kPseudoHeaderSize = 12;

struct capture_params {
    std::optional<std::string> action, pic_name, command, subcommand, name;
    int32_t packet_id = 0; // 0: every packet
    int level = 1;         // 0 brief, 1, 2 detail, 3 extensive
};

// ---------------------------------------------------------------------------
// File names

// A capture name stays inside the capture folder.
bool capture_name_ok(const std::optional<std::string> &name) {
    return name && vorel_is_safe_file_name(name->c_str());
}

// "/var/tmp/NAME.raw" or ".pcap"; false when it would not fit a path name.
bool capture_path(const std::string &name, const char *suffix, std::string *out) {
    *out = std::string(kCaptureDir) + name + suffix;
    return out->size() <= kPathLimit;
}

// Opens a capture file without following a symbolic link put in its place.
FILE *open_capture_file(const std::string &path, int flags, const char *mode) {
    int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    FILE *f = ::fdopen(fd, mode);
    if (!f)
        ::close(fd);
    return f;
}

struct file_closer {
    FILE *f;
    ~file_closer() {
        if (f)
            std::fclose(f);
    }
};

// ---------------------------------------------------------------------------
// Writing pcap records

// The pcap time of a record's millisecond clock.
struct pcap_pkthdr pcap_header_of(const capture_record &rec, uint32_t length) {
    struct pcap_pkthdr h {};
    h.ts.tv_sec = rec.time_ms / 1000;
    h.ts.tv_usec = static_cast<suseconds_t>(rec.time_ms % 1000) * 1000;
    h.caplen = h.len = length;
    return h;
}

struct pcap_file_ctx {
    const vorel::PcapLib *pcap;
    pcap_dumper_t *dumper;
};

// The pcap file holds the packets without the PIC's encapsulation; the
// services application's own records are written whole.  A record shorter
// than its encapsulation is written with no data.
capture_walk_answer write_pcap_record(const capture_record &rec, void *ctx) {
    auto *c = static_cast<pcap_file_ctx *>(ctx);
    size_t strip = capture_encapsulation(rec);
    uint32_t length = strip < rec.length ? rec.length - static_cast<uint32_t>(strip) : 0;
    struct pcap_pkthdr h = pcap_header_of(rec, length);
    c->pcap->dump(reinterpret_cast<u_char *>(c->dumper), &h, rec.data + (length ? strip : 0));
    return CAPTURE_CONTINUE;
}

// Writes the pcap file of a raw file; false after a message.
bool write_pcap_file(FILE *raw, const capture_raw_header &h, const std::string &path,
                     uint32_t *packets) {
    const vorel::PcapLib *pcap = vorel::pcap_lib();
    pcap_t *pd =
        pcap ? pcap->open_dead(kLinkRawIp, static_cast<int>(h.max_packet ? h.max_packet : 65535))
             : nullptr;
    if (!pd) {
        std::fputs("vorel: unable to open pcap.\n", stderr);
        return false;
    }
    FILE *out = open_capture_file(path, O_WRONLY | O_CREAT | O_TRUNC, "wb");
    pcap_dumper_t *dumper = out ? pcap->dump_fopen(pd, out) : nullptr;
    if (!dumper) {
        if (out)
            std::fclose(out);
        pcap->close(pd);
        std::fputs("vorel: unable to open pcap dumper.\n", stderr);
        return false;
    }
    pcap_file_ctx ctx{pcap, dumper};
    int rc = capture_raw_walk(raw, write_pcap_record, &ctx, packets);
    bool flushed = pcap->dump_flush(dumper) == 0;
    pcap->dump_close(dumper);
    pcap->close(pd);
    if (rc != 0 || !flushed) {
        std::fputs("vorel: raw capture walk failed.\n", stderr);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// req_capture and clear_capture: the PIC walk's queries

int capture_req_query(vorel_ctx *, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                      capture_params *p) {
    std::string raw_path, pcap_path;
    if (!capture_path(*p->name, ".raw", &raw_path) ||
        !capture_path(*p->name, ".pcap", &pcap_path)) {
        std::fputs("vorel: cannot build raw capture filename.\n", stderr);
        return -1;
    }
    vorel::ByteWriter req = vorel_request(kInfoRequest, 1, kRequestSize);
    req.u8(8, 'B');
    vorel::ByteBlock<kInfoReplySize> info;
    if (vorel_send(conn, req) < 0 ||
        !vorel_receive_block(conn, kInfoReply, 1, asp->name, short_reply::end_answer, &info)) {
        std::fputs("vorel: missing capture info. Out of sync?\n", stderr);
        vorel_xml_error(1, "vorel: failed request for capture info\n");
        return -1;
    }
    capture_raw_header h{info.be32<16>(), info.be32<20>(), info.be16<24>(), info.u8<26>()};

    FILE *raw = open_capture_file(raw_path, O_RDWR | O_CREAT | O_TRUNC, "w+b");
    file_closer closer{raw};
    if (!raw) {
        std::fputs("vorel: unable to open capture file.\n", stderr);
        return -1;
    }
    if (!capture_raw_header_write(raw, h)) {
        std::fputs("vorel: unable to write raw capture header.\n", stderr);
        return -1;
    }
    while (auto part = services_ui_receive_large_obj(conn, kDataObject, 1)) {
        vorel::ByteReader r(part->data(), part->size());
        // The length the part claims, held to the data it carries.
        size_t length = r.be32(kPartLengthOffset);
        size_t present = r.size() > kPartDataOffset ? r.size() - kPartDataOffset : 0;
        if (length > present)
            length = present;
        if (length && std::fwrite(r.data() + kPartDataOffset, 1, length, raw) != length)
            return -1;
    }
    // The parts stop without the object's end when the channel broke or
    // timed out: the capture is incomplete (the raw file keeps what came).
    if (services_ui_last_error(conn) != 0) {
        std::fflush(raw);
        std::fputs("vorel: capture download incomplete.\n", stderr);
        return -1;
    }
    if (std::fflush(raw) != 0)
        return -1;
    uint32_t packets = 0;
    if (!write_pcap_file(raw, h, pcap_path, &packets))
        return -1;
    std::printf("Capture files downloaded from service PIC.\nTotal packets captured: %u\nRaw "
                "capture: %s\nPcap capture: %s\n",
                packets, raw_path.c_str(), pcap_path.c_str());
    std::printf("Use \"show services capture %s\" for viewing the capture.\n", p->name->c_str());
    return 0;
}

int capture_clear_query(vorel_ctx *, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                        capture_params *) {
    vorel::ByteWriter req = vorel_request(kClearRequest, 1, kRequestSize);
    req.u8(8, 'B');
    vorel::ByteBlock<kClearReplySize> reply;
    if (vorel_send(conn, req) < 0 ||
        !vorel_receive_block(conn, kClearReply, 1, asp->name, short_reply::end_answer, &reply)) {
        std::fputs("vorel: missing capture info. Out of sync?\n", stderr);
        return -1;
    }
    uint32_t result = reply.be32<16>();
    if (result == 0)
        std::printf("Successfully cleared the capture.\n");
    else
        std::printf("Failed to clear the capture with error: %d\n", static_cast<int>(result));
    return 0;
}

int capture_open(vorel_ctx *, capture_params *) {
    return 0;
}
int capture_close(vorel_ctx *, capture_params *) {
    return 0;
}

const vorel_action<capture_params> capture_cmd_handlers_table[] = {
    {"req_capture", capture_open, capture_close, capture_req_query},
    {"clear_capture", capture_open, capture_close, capture_clear_query},
    {nullptr, nullptr, nullptr, nullptr},
};

services_ui_conn *open_capture_pic(const asp_info &asp) {
    services_ui_conn *c = vorel_open_pic_fatal(asp);
    if (!c)
        std::fputs("vorel: Failed to open connection to PIC.\n", stderr);
    return c;
}

int run_capture_walk(vorel_ctx *ctxt, capture_params *p) {
    pic_walk walk;
    walk.pic_name = p->pic_name ? p->pic_name->c_str() : nullptr;
    walk.admit = [](const asp_info &asp) {
        return vorel_starts_with(asp.name, "rsp") || vorel_starts_with(asp.name, "sp");
    };
    walk.open_channel = open_capture_pic;
    walk.on_open_failure = open_failure::stop_walk;
    bool ran = false;
    return vorel_run_action(capture_cmd_handlers_table, p->action->c_str(), walk, ctxt, p, nullptr,
                            &ran);
}

// ---------------------------------------------------------------------------
// dump_capture: each packet through tcpdump

struct display_ctx {
    const capture_params *p;
    uint32_t shown = 0;
};

// tcpdump says which file and link type it reads on its standard error;
// that line is not the user's business, anything else it says is.
void pass_on_tcpdump_errors(int fd) {
    FILE *err = ::fdopen(fd, "r");
    if (!err) {
        ::close(fd);
        return;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, err))
        if (std::strncmp(line, "reading from file ", 18) != 0)
            std::fputs(line, stderr);
    std::fclose(err);
}

// Feeds one pcap stream of the services-PIC link type to tcpdump's input.
// False when tcpdump is gone before it had the packet.
bool feed_tcpdump(int fd, const capture_record &rec) {
    std::vector<uint8_t> packet;
    if (rec.type == CAPTURE_TYPE_SERVICES_APP) {
        packet.assign(kPseudoHeaderSize, 0);
        packet[1] = 3;
        packet.insert(packet.end(), rec.data, rec.data + rec.length);
    } else {
        size_t strip = rec.input ? 16 : 4;
        if (rec.length > strip)
            packet.assign(rec.data + strip, rec.data + rec.length);
    }
    const vorel::PcapLib *pcap = vorel::pcap_lib();
    pcap_t *pd = pcap ? pcap->open_dead(kLinkServices, 65535) : nullptr;
    FILE *out = pd ? ::fdopen(fd, "wb") : nullptr;
    pcap_dumper_t *dumper = out ? pcap->dump_fopen(pd, out) : nullptr;
    if (!dumper) {
        if (out)
            std::fclose(out);
        else
            ::close(fd);
        if (pd)
            pcap->close(pd);
        return false;
    }
    struct pcap_pkthdr h = pcap_header_of(rec, static_cast<uint32_t>(packet.size()));
    pcap->dump(reinterpret_cast<u_char *>(dumper), &h, packet.data());
    bool ok = pcap->dump_flush(dumper) == 0;
    pcap->dump_close(dumper);
    pcap->close(pd);
    return ok;
}

void show_logs(const capture_record &rec) {
    std::printf("\nLOGS:\n-----\n");
    unsigned n = 0;
    for (uint16_t i = 0; i < rec.log_lines; i++) {
        const char *line = reinterpret_cast<const char *>(rec.log) + size_t{i} * rec.log_width;
        size_t len = strnlen(line, rec.log_width);
        if (len && line[len - 1] == '\n')
            len--;
        if (len)
            std::printf("  LOG %u: %.*s\n", ++n, static_cast<int>(len), line);
    }
}

capture_walk_answer display_record(const capture_record &rec, void *ctx) {
    auto *c = static_cast<display_ctx *>(ctx);
    const capture_params &p = *c->p;
    if (p.packet_id && static_cast<uint32_t>(p.packet_id) != rec.id)
        return CAPTURE_CONTINUE;
    if (rec.seq) {
        char title[128];
        int n = std::snprintf(
            title, sizeof title, "%u. Packet ID %d%s:", rec.seq, static_cast<int>(rec.id),
            rec.type == CAPTURE_TYPE_SERVICES_APP ? " (captured by Services Application)" : "");
        std::printf("%s\n%s\n", title, std::string(static_cast<size_t>(n), '=').c_str());
    }
    std::vector<std::string> argv = {vorel::tcpdump_path(), "-c1", "-r-", "-n", "-tt"};
    if (p.level >= 1)
        argv.push_back("-vvv");
    if (p.level > 2)
        argv.push_back("-X");
    int in = -1, err = -1;
    pid_t pid = vorel::start_program_with_input(argv, in, &err);
    if (pid < 0) {
        std::fprintf(stderr, "vorel: unable to start tcpdump.\nvorel: %s: %s\n", argv[0].c_str(),
                     std::strerror(errno));
        return CAPTURE_FAIL;
    }
    // A tcpdump that ends early closes the pipe: that is an answer, not a
    // reason to die.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    bool fed = feed_tcpdump(in, rec);
    sigaction(SIGPIPE, &previous, nullptr);
    pass_on_tcpdump_errors(err);
    int status = vorel::wait_program(pid);
    if (status < 0)
        return CAPTURE_FAIL;
    // Whether it closed the pipe before it had the packet or said it failed,
    // it did not show the packet.
    if (!fed || status != 0) {
        std::fputs("vorel: unable to start tcpdump.\n", stderr);
        return CAPTURE_FAIL;
    }
    c->shown++;
    if (p.level >= 2 && rec.log_lines)
        show_logs(rec);
    return p.packet_id ? CAPTURE_STOP : CAPTURE_CONTINUE;
}

int dump_capture(const capture_params &p) {
    std::string raw_path;
    if (!capture_path(*p.name, ".raw", &raw_path)) {
        std::fputs("vorel: capture filename too long.\n", stderr);
        return -1;
    }
    FILE *raw = open_capture_file(raw_path, O_RDONLY, "rb");
    file_closer closer{raw};
    if (!raw) {
        std::fputs("vorel: unable to open capture file.\n", stderr);
        return -1;
    }
    display_ctx ctx{&p};
    uint32_t passed = 0;
    if (capture_raw_walk(raw, display_record, &ctx, &passed) != 0) {
        std::fputs("vorel: raw capture walk failed.\n", stderr);
        return -1;
    }
    if (ctx.shown == 0)
        std::printf("No packet found.\n");
    return 0;
}

// ---------------------------------------------------------------------------
// Command line

// A packet id: a decimal number from 0 to 2147483647.
bool parse_packet_id(const char *text, int32_t *out) {
    if (!text || !*text)
        return false;
    uint64_t v = 0;
    for (const char *s = text; *s; s++) {
        if (*s < '0' || *s > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(*s - '0');
        if (v > 2147483647)
            return false;
    }
    *out = static_cast<int32_t>(v);
    return true;
}

void set_level(const char *word, capture_params *p) {
    if (word[0] == 'd')
        p->level = 2;
    else if (word[0] == 'b')
        p->level = 0;
    else if (word[0] == 'e')
        p->level = 3;
}

// The sub-commands; each names the action of its own name.
constexpr vorel_subcommand<vorel_no_settings> kSubcommands[] = {
    {"dump_capture", "dump_capture"},
    {"req_capture", "req_capture"},
    {"clear_capture", "clear_capture"},
};

// The "doesn't know what to do" lines: the message, then the command line
// echoed.
int doesnt_know(int argc, char **argv) {
    vorel_user_message("vorel: capture handler doesn't know what to do..\n%s",
                       vorel_argument_echo(argc, argv).c_str());
    return -1;
}

} // namespace

int vorel_handle_capture_command(int argc, char **argv, vorel_ctx *ctxt) {
    capture_params p;
    bool bad_packet_id = false;
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (vorel_command_word_option(c, &p))
            continue;
        switch (c) {
        case 'F':
            p.name = vorel_optarg;
            break;
        case 'V':
            set_level(vorel_optarg, &p);
            break;
        case 'i':
            p.pic_name = vorel_optarg;
            break;
        case 'p':
            bad_packet_id = bad_packet_id || !parse_packet_id(vorel_optarg, &p.packet_id);
            break;
        default:
            break;
        }
    }
    if (bad_packet_id) {
        vorel_xml_error(1, "Invalid capture packet id\n");
        return doesnt_know(argc, argv);
    }
    if (!p.action && p.command && *p.command == "capture")
        if (const auto *row = vorel_subcommand_find(kSubcommands, p.subcommand))
            p.action = row->action;
    if (!p.action)
        return doesnt_know(argc, argv);

    bool names_files = *p.action == "dump_capture" || *p.action == "req_capture";
    if (names_files && !capture_name_ok(p.name)) {
        std::fprintf(stderr, "vorel: invalid capture name %s: a name of a file in %s is needed.\n",
                     p.name ? p.name->c_str() : "(none)", kCaptureDir);
        return -1;
    }
    if (names_files) {
        // Both files of a capture must fit a path name, whichever is used.
        std::string path;
        if (!capture_path(*p.name, ".pcap", &path)) {
            std::fputs(*p.action == "dump_capture" ? "vorel: capture filename too long.\n"
                                                   : "vorel: cannot build raw capture filename.\n",
                       stderr);
            return -1;
        }
    }
    if (*p.action == "dump_capture")
        return dump_capture(p);
    int rc = run_capture_walk(ctxt, &p);
    if (rc < 0 && *p.action != "req_capture" && *p.action != "clear_capture")
        return doesnt_know(argc, argv);
    return rc;
}
