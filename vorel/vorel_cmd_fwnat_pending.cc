// Actions of the family whose queries are not built yet.  Each one says so
// plainly when it is asked for and ends the run with status 2, before
// anything else is printed, rather than give a false empty answer.  A group
// of queries that arrives removes its lines here.
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_error.h"

namespace {

[[noreturn]] int not_available(const fwnat_params *params) {
    vorel_fatal_error(2, "fwnat action %s is not available in this build",
                      params && params->action ? params->action.get() : "(none)");
}

} // namespace

// The open callback is the first one the driver calls, so it is the one
// that stops; close and query are never reached.
#define FWNAT_PENDING_OPEN_CLOSE(prefix)                                                           \
    int prefix##_open(vorel_ctx *, fwnat_params *params) {                                         \
        not_available(params);                                                                     \
    }                                                                                              \
    int prefix##_close(vorel_ctx *, fwnat_params *params) {                                        \
        not_available(params);                                                                     \
    }
#define FWNAT_PENDING_QUERY(name)                                                                  \
    int name(vorel_ctx *, services_ui_conn *, asp_info *, svc_set_info *, fwnat_params *params) {  \
        not_available(params);                                                                     \
    }
#define FWNAT_PENDING_ACTION(prefix)                                                               \
    FWNAT_PENDING_OPEN_CLOSE(prefix)                                                               \
    FWNAT_PENDING_QUERY(prefix##_query)

// NAT mappings, deterministic NAT, NPTv6, clearing.
FWNAT_PENDING_ACTION(fwnat_nat_mapping_v2_dump)
FWNAT_PENDING_ACTION(fwnat_detnat_dump)
FWNAT_PENDING_ACTION(fwnat_nptv6_mapping_dump)
FWNAT_PENDING_ACTION(fwnat_natmappings_clear)
FWNAT_PENDING_ACTION(fwnat_natflows_clear)
// NAT statistics.
FWNAT_PENDING_ACTION(fwnat_natstatistics_dump)
FWNAT_PENDING_ACTION(fwnat_natstatistics_clear)
