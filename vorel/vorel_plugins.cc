#include "vorel/vorel_plugins.h"

#include "platform/logging.h"
#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_util.h"

#include <cerrno>
#include <cstdio>
#include <syslog.h>

namespace {

struct plugin_row {
    uint32_t cmd_type;
    vorel_session_plugin_fn printer;
};

plugin_row g_plugins[VOREL_SESSION_PLUGINS_MAX];
size_t g_plugin_count = 0;

// ---- NAT translation reply ----

constexpr uint16_t kNatReplyVersion = 1;
constexpr size_t kTypeOffset = 16;
constexpr size_t kTranslatedSrc = 20;
constexpr size_t kTranslatedDst = 40;
constexpr size_t kOriginalSrc = 60;
constexpr size_t kOriginalDst = 80;
constexpr size_t kPortFirst = 100;  // the translated source port
constexpr size_t kPortSecond = 102; // the original source port
constexpr size_t kEifOffset = 110;
constexpr size_t kAddrTextLen = 80;

// Which directions a translation type rewrites.
struct nat_directions {
    bool source;
    bool destination;
    bool ports;
};

nat_directions directions_of(uint32_t type) {
    nat_directions d{};
    if (type == 22 || type == 23 || type == 24) {
        d.source = d.destination = true;
    } else {
        d.source = type != 0 && type != 14;
        d.destination = type == 14 || type == 15 || type == 16 || type == 17 || type == 18 ||
                        type == 27 || type == 28;
    }
    d.ports = type == 13 || type == 15 || type == 22 || type == 25 || type == 27 || type == 28;
    return d;
}

struct nat_texts {
    char orig_src[kAddrTextLen], orig_dst[kAddrTextLen];
    char xlat_src[kAddrTextLen], xlat_dst[kAddrTextLen];
};

using nat_reply = vorel::ByteBlock<VOREL_NAT_REPLY_LEN>;

void format_addresses(const nat_reply &r, nat_texts *t) {
    vorel_addr a = vorel_addr_decode<kOriginalSrc>(r);
    ipaddr_tostring(&a, t->orig_src, kAddrTextLen);
    a = vorel_addr_decode<kOriginalDst>(r);
    ipaddr_tostring(&a, t->orig_dst, kAddrTextLen);
    a = vorel_addr_decode<kTranslatedSrc>(r);
    ipaddr_tostring(&a, t->xlat_src, kAddrTextLen);
    a = vorel_addr_decode<kTranslatedDst>(r);
    ipaddr_tostring(&a, t->xlat_dst, kAddrTextLen);
}

void render_xml(uint32_t type, bool eif, const nat_directions &d, const nat_texts &t,
                uint16_t first_port, uint16_t second_port) {
    xml_send_open("nat-plugin-sess-entry");
    xml_send_all("nat-action", "  Translation Type - %s %s\n", vorel_nat_translation_type2str(type),
                 eif ? "(EIF)" : "");
    if (d.source) {
        xml_send_open("sfw-flow-nat");
        xml_send_all("sfw-flow-nat-type", "%s", "NAT source");
        xml_send_all("sfw-flow-nat-ip", "%s", t.orig_src);
        // The XML labels the second port value as the original one.
        if (d.ports)
            xml_send_all("sfw-flow-nat-port", "%d", second_port);
        xml_send_all("sfw-flow-translated-ip", "%s", t.xlat_src);
        if (d.ports)
            xml_send_all("sfw-flow-translated-port", "%d", first_port);
        xml_send_close("sfw-flow-nat");
    }
    if (d.destination) {
        xml_send_open("sfw-flow-nat");
        xml_send_all("sfw-flow-nat-type", "%s", "NAT Destination");
        xml_send_all("sfw-flow-nat-ip", "%s", t.orig_dst);
        xml_send_all("sfw-flow-translated-ip", "%s", t.xlat_dst);
        xml_send_close("sfw-flow-nat");
    }
    xml_send_close("nat-plugin-sess-entry");
}

void render_text(uint32_t type, const nat_directions &d, const nat_texts &t, uint16_t first_port,
                 uint16_t second_port) {
    std::printf("NAT information: \n");
    std::printf("  NAT translation type: %s \n", vorel_nat_translation_type2str(type));
    if (d.source) {
        std::printf("  SRC IP translated from %s to %s\n", t.orig_src, t.xlat_src);
        if (d.ports)
            std::printf("  SRC port translated from %d to %d\n", first_port, second_port);
    }
    if (d.destination)
        std::printf("  DST IP translated from %s to %s\n", t.orig_dst, t.xlat_dst);
}

} // namespace

int vorel_register_session_plugin(uint32_t cmd_type, vorel_session_plugin_fn printer) {
    if (vorel_session_plugin_lookup(cmd_type)) {
        logging_event(LOG_ERR, "VOREL_COMMAND_TYPE_ENTRY", {"index"},
                      "VOREL_COMMAND_TYPE_ENTRY: entry for command type %d already exists",
                      static_cast<int>(cmd_type));
        return EBUSY;
    }
    if (g_plugin_count >= VOREL_SESSION_PLUGINS_MAX) {
        logging_event(LOG_ERR, "VOREL_SESSION_PLGIN_REGISTER", {"index"},
                      "VOREL_SESSION_PLGIN_REGISTER: Number of session plugin entries exceeds %d",
                      static_cast<int>(VOREL_SESSION_PLUGINS_MAX));
        return ENOMEM;
    }
    g_plugins[g_plugin_count++] = {cmd_type, printer};
    return 0;
}

vorel_session_plugin_fn vorel_session_plugin_lookup(uint32_t cmd_type) {
    for (size_t i = 0; i < g_plugin_count; i++)
        if (g_plugins[i].cmd_type == cmd_type)
            return g_plugins[i].printer;
    return nullptr;
}

void vorel_register_all_session_plugins() {
    vorel_register_session_plugin(VOREL_NAT_PLUGIN_TYPE, vorel_nat_translation_print);
}

void vorel_session_plugins_reset() {
    g_plugin_count = 0;
}

size_t vorel_session_plugins_count() {
    return g_plugin_count;
}

int vorel_dump_session_plugins(vorel_ctx *ctxt, services_ui_conn *asp_conn, const uint16_t *types,
                               size_t count) {
    if (count > VOREL_SESSION_PLUGINS_MAX)
        count = VOREL_SESSION_PLUGINS_MAX;
    for (size_t i = 0; i < count && types[i] != 0; i++) {
        vorel_session_plugin_fn printer = vorel_session_plugin_lookup(types[i]);
        if (!printer)
            continue;
        if (int rc = printer(ctxt, asp_conn); rc != 0)
            return rc;
    }
    return 0;
}

const char *vorel_nat_translation_type2str(uint32_t type) {
    static const char *const names[] = {
        "BASIC NAT44",
        "DYNAMIC NAT44",
        "NAPT-44",
        "DNAT-44",
        "STATEFUL NAT64",
        "STATELESS NAT64",
        "BASIC NAT-PT",
        "NAPT-PT",
        "BASIC NAT66",
        "NPTV6",
        "NAPT-66",
        "TWICE NAPT44",
        "TWICE BASIC NAT44",
        "TWICE DYNAMIC NAT44",
        "DETERMINISTIC NAPT44",
        "STATELESS DETERMINISTIC NAPT44",
        "STATEFUL NAT464",
        "DETERMINISTIC NAPT64",
    };
    constexpr uint32_t first = 11;
    if (type < first || type - first >= sizeof names / sizeof names[0])
        return "invalid";
    return names[type - first];
}

bool vorel_nat_translation_render(const vorel::ByteReader &whole, int xml) {
    nat_reply reply;
    if (!whole.block(0, reply))
        return false;
    uint32_t type = reply.be32<kTypeOffset>();
    uint16_t first_port = reply.be16<kPortFirst>();
    uint16_t second_port = reply.be16<kPortSecond>();
    bool eif = reply.u8<kEifOffset>() != 0;
    nat_directions d = directions_of(type);
    nat_texts t{};
    if (d.source || d.destination)
        format_addresses(reply, &t);
    if (xml)
        render_xml(type, eif, d, t, first_port, second_port);
    else
        render_text(type, d, t, first_port, second_port);
    return true;
}

int vorel_nat_translation_print(vorel_ctx *ctxt, services_ui_conn *asp_conn) {
    // A short reply is like none: the session's entry goes on without it.
    vorel::ByteReader reply =
        vorel_receive_at_least(asp_conn, VOREL_NAT_PLUGIN_TYPE, kNatReplyVersion,
                               VOREL_NAT_REPLY_LEN, "NAT translation", short_reply::end_answer);
    if (reply.empty() || !vorel_nat_translation_render(reply, ctxt->xml))
        return 2;
    return 0;
}
