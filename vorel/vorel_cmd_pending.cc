// Commands whose handlers are not built yet.  Each says so plainly and
// ends the run with status 2, rather than print a false empty answer.
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_error.h"

namespace {

[[noreturn]] int not_built() {
    vorel_fatal_error(2, "command %s is not available in this build",
                      vorel_command_name ? vorel_command_name : "(none)");
}

} // namespace

#define VOREL_PENDING(fn)                                                                          \
    int fn(int, char **, vorel_ctx *) {                                                            \
        not_built();                                                                               \
    }

VOREL_PENDING(vorel_handle_fips_command)
VOREL_PENDING(vorel_handle_si_ip_reass_command)
VOREL_PENDING(vorel_handle_si_ipv6_reass_command)
