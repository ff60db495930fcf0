// Session plug-ins: when a session is shown in detail, the PIC follows its
// record with one extra reply per plug-in that handled the session, each
// identified by a command type.  The registry maps a command type to the
// printer of that reply; the session record lists the types in order.
// The program registers one printer, the session's NAT translation (327).
#pragma once

#include "platform/bytes.h"
#include "platform/services_ui.h"
#include "vorel/vorel_ctx.h"

#include <cstddef>
#include <cstdint>

constexpr size_t VOREL_SESSION_PLUGINS_MAX = 21;

// Receives and prints one plug-in reply; 0 when it printed, nonzero otherwise.
using vorel_session_plugin_fn = int (*)(vorel_ctx *ctxt, services_ui_conn *asp_conn);

// 0; EBUSY when the type is already registered; ENOMEM when every row is
// taken (both logged).
int vorel_register_session_plugin(uint32_t cmd_type, vorel_session_plugin_fn printer);
// The printer of the first row with that type, or null.
vorel_session_plugin_fn vorel_session_plugin_lookup(uint32_t cmd_type);
// Registers the program's printers (NAT translation under 327).
void vorel_register_all_session_plugins();
// Empties the registry (tests).
void vorel_session_plugins_reset();
size_t vorel_session_plugins_count();

// Prints the replies of the plug-ins the session lists, in order: at most
// VOREL_SESSION_PLUGINS_MAX types, ended early by a 0; types without a
// printer are passed over.  0, or the first nonzero printer result (which
// ends the list).
int vorel_dump_session_plugins(vorel_ctx *ctxt, services_ui_conn *asp_conn, const uint16_t *types,
                               size_t count);

// ---- NAT translation (reply 327) ----

constexpr uint16_t VOREL_NAT_PLUGIN_TYPE = 327;
constexpr size_t VOREL_NAT_REPLY_LEN = 111;

// The name of a translation type ("NAPT-44", ..., "invalid").
const char *vorel_nat_translation_type2str(uint32_t type);
// Renders a received NAT translation reply; false (nothing printed) when
// it is shorter than VOREL_NAT_REPLY_LEN.
bool vorel_nat_translation_render(const vorel::ByteReader &reply, int xml);
// The registered printer: receives reply 327 and renders it; 2 when no
// (whole) reply came.
int vorel_nat_translation_print(vorel_ctx *ctxt, services_ui_conn *asp_conn);
