// vorel: one operational command about the services of the service PICs.
//
// main checks that it runs on the master routing engine, loads the
// Configuration snapshot from the kernel, and either prints a snapshot
// listing or hands the whole argument vector to the command's handler.
// Options are parsed in order and never permuted: parsing stops at the
// first word that is not an option, so options after a filter's value word
// are seen only by the handler, which parses the vector again from the
// first argument.
#include "platform/chassis.h"
#include "platform/format.h"
#include "platform/lab_link.h"
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct main_options {
    std::string command;
    bool has_command = false;
    bool dump = false;
    bool list_names = false;
    bool list_plugins = false;
    std::string pic_name;
    std::string svc_set;
    bool has_svc_set = false;
};

void parse_global_options(int argc, char **argv, vorel_ctx &ctx, main_options &o) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctx.optstring)) != -1) {
        switch (c) {
        case 'C':
            o.command = vorel_optarg;
            o.has_command = true;
            break;
        case 'D':
            o.dump = true;
            break;
        case 'X':
            ctx.xml = 1;
            xml_set_mode(true);
            break;
        case 'i':
            o.pic_name = vorel_optarg;
            break;
        case 'n':
            o.list_names = true;
            break;
        case 'p':
            o.list_plugins = true;
            break;
        case 's':
            o.svc_set = vorel_optarg;
            o.has_svc_set = true;
            break;
        case '?':
            // -p selects the plug-in list also when its argument is missing.
            if (vorel_optopt == 'p')
                o.list_plugins = true;
            break;
        default:
            break;
        }
    }
}

const vorel_cmd *find_command(const std::string &name) {
    for (const vorel_cmd *c = vorel_cmd_table; c->name; c++)
        if (name == c->name)
            return c;
    return nullptr;
}

} // namespace

// A routing engine that is not the master answers the mastership query; a
// machine with no router (no lab running) answers nothing at all.  Only
// then standard error says where the chassis service was looked for.
void explain_unreachable_chassis() {
    std::string value;
    int rc = vorel::chassis::get_value(vorel::chassis_key::kMaster, value);
    if (rc == 0 || rc == ENOENT)
        return;
    vorel_note_failure("no chassis service answers on %s (%s); `vorel-lab start SCENARIO` "
                       "(or scripts/demo.sh) gives a router to ask",
                       vorel::lab_link::control_socket_path().c_str(), std::strerror(rc));
}

int main(int argc, char **argv) {
    prog_name = argv[0];
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    ctx.xml = 0;

    main_options o;
    parse_global_options(argc, argv, ctx, o);
    if (o.has_command)
        vorel_command_name = o.command.c_str();

    if (!(o.has_command && o.command == "inline-ip-reass") &&
        !nmchassis_is_vc_or_single_re_protocol_master()) {
        vorel_user_message("Error! This command must be executed from the Master RE\n");
        explain_unreachable_chassis();
        return 0;
    }

    // Output is fully buffered: the channel library flushes it before it
    // waits on a PIC, so the reader still sees everything as soon as the
    // program would wait, without a system call per line.
    static char output_buffer[1 << 16];
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    vorel::widen_stdout_pipe();

    vorel_db_init(o.pic_name.empty() ? nullptr : o.pic_name.c_str(),
                  o.has_svc_set ? o.svc_set.c_str() : nullptr, o.dump);
    if (o.dump)
        return 0;

    if (!o.has_command) {
        if (o.list_plugins)
            vorel_db_dump_svc_plugin_names();
        else if (o.list_names)
            vorel_db_dump_svc_set_names();
        else
            vorel_db_dump(&ctx);
        return 0;
    }

    const vorel_cmd *cmd = find_command(o.command);
    if (!cmd) {
        vorel_note_failure("unknown command %s", o.command.c_str());
        return 0;
    }
    vorel_getopt_reset();
    cmd->handler(argc, argv, &ctx);
    return 0;
}
