#include "fuzz/fuzz_command.h"

#include "fuzz/fakes.h"
#include "platform/xml.h"
#include "tests/e2e/xml_schemas.h"
#include "tests/support/argv.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_string.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace vorel::fuzz {

namespace {

constexpr uint8_t kModeXml = 1;
constexpr uint8_t kModeDebug = 2;
constexpr uint8_t kModeMoreWords = 4;
constexpr uint8_t kModeKernel = 8;
constexpr unsigned kModePackageShift = 4; // bits 4-7: PICs without the package
constexpr size_t kMaxMoreWords = 16;

// What vorel_exit throws in a fuzz run: the command ended on purpose.
struct CommandExited {
    int status;
};

[[noreturn]] void throw_exit(int status) {
    throw CommandExited{status};
}

[[noreturn]] void fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

// More command-line words from a chunk of the input, NUL-separated, so
// that the family's option parsing meets words nobody wrote down.
void append_words(Input &in, std::vector<std::string> &args) {
    vorel::ByteReader words;
    if (!in.chunk(words))
        return;
    std::string text(reinterpret_cast<const char *>(words.data()), words.size());
    size_t start = 0;
    for (size_t n = 0; n < kMaxMoreWords && start <= text.size(); n++) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos)
            end = text.size();
        std::string word = text.substr(start, end - start);
        // Only the target's own words name paths: an output file named by
        // the input (-Q, -F) stays inside the scratch folder.
        std::replace(word.begin(), word.end(), '/', '_');
        args.push_back(std::move(word));
        start = end + 1;
    }
}

// The command runs in a scratch folder of the process's own, removed at
// exit, so that files it writes by a relative name never land in the
// folder the fuzzer was started from (the source tree).  The fuzzer's own
// files (corpus, artifacts) are named relative to that folder, so the run
// goes back to it when the command ends, however it ends.
class InScratchFolder {
  public:
    InScratchFolder() : home_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (home_ < 0 || chdir(scratch_folder()) != 0)
            fail("cannot enter a scratch folder", std::strerror(errno));
    }
    ~InScratchFolder() {
        if (fchdir(home_) != 0)
            fail("cannot go back from the scratch folder", std::strerror(errno));
        close(home_);
    }

  private:
    int home_;
};

} // namespace

asp_info *add_pic(uint16_t fpc, uint16_t pic, uint16_t ifd_index, const char *name,
                  uint32_t flags) {
    auto a = std::make_unique<asp_info>();
    a->fpc_slot = fpc;
    a->pic_slot = pic;
    a->ifd_index = ifd_index;
    a->flags = flags;
    vorel_strlcpy(a->name, name, sizeof a->name);
    return vorel_db_asp_add(std::move(a), true);
}

void add_set(asp_info *a, const char *name, uint16_t id, uint8_t style, uint32_t kind) {
    svc_set_info ss;
    vorel_strlcpy(ss.name, name, sizeof ss.name);
    ss.id = id;
    ss.style = style;
    ss.kind = kind;
    ss.cfg_len = 728;
    vorel_db_svc_set_add(a, ss);
}

// Standard output goes nowhere: the program's output is exercised, not kept
// (unless $VOREL_FUZZ_SHOW is set, to see what an input makes it print).
void quiet_stdout() {
    static bool done = false;
    if (done)
        return;
    done = true;
    prog_name = "vorel";
    if (std::getenv("VOREL_FUZZ_SHOW"))
        return;
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
}

void default_snapshot() {
    asp_info *a = add_pic(1, 0, 0, "ms-1/0/0", ASP_F_MSP);
    add_set(a, "sset-a", 1, 'B');
    add_set(a, "sset-b", 2, 'B', 2);
    add_set(a, "tg-1", 7, 'D');
    a = add_pic(2, 0, 0, "ms-2/0/0", ASP_F_MSP);
    a->peer_fpc_slot = 2;
    a->peer_pic_slot = 1;
    add_set(a, "sset-c", 3, 'B');
    a = add_pic(3, 0, 31, "mams-3/0/0", ASP_F_MSP);
    a->ams_member_type = 2;
    add_set(a, "sset-ams", 12, 'B');
    a = add_pic(3, 0, 0, "ms-3/0/0", ASP_F_MSP);
    add_set(a, "sset-twin", 13, 'B');
    a = add_pic(4, 0, 0, "si-4/0/0", ASP_F_SI);
    add_set(a, "sset-si", 20, 'B');
}

int run_command(const Command &cmd, const uint8_t *data, size_t size) {
    quiet_stdout();
    Input in(data, size);
    uint8_t mode = in.byte();
    uint8_t which = in.byte();
    if (cmd.arguments.empty())
        return 0;
    const auto &words = cmd.arguments[which % cmd.arguments.size()];

    vorel_db_clear();
    (cmd.snapshot ? cmd.snapshot : default_snapshot)();

    XmlCapture xml;
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    ctx.xml = (mode & kModeXml) ? 1 : 0;
    xml_set_mode(ctx.xml != 0);
    debug = (mode & kModeDebug) ? 1 : 0;

    std::vector<std::string> args{"vorel"};
    args.insert(args.end(), words.begin(), words.end());
    if (mode & kModeMoreWords)
        append_words(in, args);
    vorel::ByteReader kernel_answers;
    if (cmd.kernel && (mode & kModeKernel))
        in.chunk(kernel_answers);
    Input kernel(kernel_answers.data(), kernel_answers.size());
    vorel::testing::Argv argv(std::move(args));
    const std::vector<std::string> &words_given = argv.words();
    vorel_command_name = nullptr;
    for (size_t i = 1; i + 1 < words_given.size(); i++)
        if (words_given[i] == "-C")
            vorel_command_name = words_given[i + 1].c_str();
    vorel_getopt_reset();
    services_ui_feed(&in);
    pconn_feed(&in);
    control_feed(kernel.at_end() ? nullptr : &kernel);
    package_feed(true, static_cast<uint8_t>(mode >> kModePackageShift));

    {
        InScratchFolder scratch;
        // The hook and the feeds point into this run: they are taken back
        // however the handler ends.
        struct RunScope {
            RunScope() { vorel_set_exit_hook(throw_exit); }
            ~RunScope() {
                vorel_set_exit_hook(nullptr);
                services_ui_feed(nullptr);
                pconn_feed(nullptr);
                control_feed(nullptr);
                package_feed(false, 0);
            }
        } scope;
        try {
            cmd.handler(argv.argc(), argv.argv(), &ctx);
        } catch (const CommandExited &) {
            // The command ended on purpose (a refused argument, a fatal error).
        }
    }
    xml.finish();
    debug = 0;
    vorel_db_clear();
    if (size_t open = services_ui_open_channels())
        fail("channels left open", std::to_string(open));
    if (size_t open = pconn_open_connections())
        fail("peer connections left open", std::to_string(open));
    return 0;
}

XmlCapture::XmlCapture() {
    out_ = open_memstream(&text_, &size_);
    if (!out_)
        std::abort();
    xml_set_output(out_);
}

XmlCapture::~XmlCapture() {
    if (out_)
        finish();
    std::free(text_);
}

void XmlCapture::finish() {
    xml_subtree_unwind();
    xml_set_output(nullptr);
    xml_set_mode(false);
    std::fclose(out_);
    out_ = nullptr;
    std::string xml(text_, size_);
    if (std::getenv("VOREL_FUZZ_SHOW"))
        std::fputs(xml.c_str(), stdout);
    std::string why;
    if (!vorel::testing::well_formed(xml, why))
        fail("XML output is not well formed", why + "\n" + xml);
}

} // namespace vorel::fuzz
