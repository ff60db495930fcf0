// -C svc_set -S plugin: whether each service set of a multiservices PIC is
// ready and which plug-ins it runs; -S policy: the size of each service
// set's configuration record, from the snapshot alone.
#include "vorel/vorel_cmd_svc_set.h"

#include "platform/xml.h"
#include "vorel/vorel_section.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint16_t kRequest = 120, kReply = 121;
constexpr size_t kRequestSize = 20;
constexpr size_t kNameOffset = 16, kNameWidth = 64;
constexpr size_t kStateOffset = 80, kCountOffset = 84;
constexpr size_t kPluginsOffset = 88, kPluginSize = 68, kPluginNameWidth = 64;
constexpr size_t kMaxPlugins = 21;
constexpr uint32_t kStateReady = 3;
// The two service-set kinds a PIC is asked about, in this order.
constexpr uint32_t kPassKinds[] = {2, 0};

void render(const vorel_ctx *ctxt, const vorel::ByteReader &r, const std::string &name) {
    const char *state = r.be32(kStateOffset) == kStateReady ? "Ready" : "Not Ready";
    size_t n = r.clamp_count(r.be32(kCountOffset), kPluginsOffset, kPluginSize, kMaxPlugins);
    if (ctxt->xml) {
        xml_send_open("service-set-plugin-information");
        xml_send_all("service-set-name", "%s", name.c_str());
        xml_send_all("service-set-state", "%s", state);
        xml_send_all("plugins-configured", "%u", static_cast<unsigned>(n));
    } else {
        std::printf("  Service-set: %s, state: %s\n", name.c_str(), state);
        std::printf("  Plugins configured: %d\n", static_cast<int>(n));
    }
    for (size_t i = 0; i < n; i++) {
        size_t off = kPluginsOffset + i * kPluginSize;
        std::string plugin(r.text(off, kPluginNameWidth));
        uint32_t id = r.be32(off + kPluginNameWidth);
        if (ctxt->xml) {
            xml_send_open("service-set-plugin-entry");
            xml_send_all("plugin-name", "%s", plugin.c_str());
            xml_send_all("plugin-id", "%u", id);
            xml_send_close("service-set-plugin-entry");
        } else {
            std::printf("  Plugin: %s, plugin-id: %u\n", plugin.c_str(), id);
        }
    }
    xml_send_close("service-set-plugin-information");
}

int plugin_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
                 svc_set_params *) {
    // Opens before the first reply shown for the PIC; closes after both
    // passes.
    vorel_section pic_section(ctxt, "service-set-plugin-summary");
    pic_section.on_text_open([asp] { std::printf("Interface: %s\n", asp->name); });
    for (uint32_t kind : kPassKinds) {
        vorel::ByteWriter req = vorel_request(kRequest, 1, kRequestSize);
        req.be32(16, kind);
        if (vorel_send(c, req) < 0)
            continue;
        for (;;) {
            vorel::ByteReader r =
                vorel_receive_at_least(c, kReply, 1, kPluginsOffset, asp->name, short_reply::skip);
            if (r.empty())
                break;
            std::string name(r.text(kNameOffset, kNameWidth));
            if (!vorel_db_svc_set_find_by_name(asp, name.c_str()))
                continue;
            if (pic_section.open())
                xml_send_all("interface-name", "%s", asp->name);
            render(ctxt, r, name);
        }
    }
    if (pic_section.is_open() && ctxt->xml) {
        pic_section.close();
        xml_subtree_once();
    }
    return 0;
}

void plugin_walk(pic_walk &walk, svc_set_params &) {
    walk.admit = [](const asp_info &asp) { return (asp.flags & ASP_F_MSP) != 0; };
}

// "policy": no PIC is asked, so the whole operation runs in its open.
int policy_open(vorel_ctx *ctxt, svc_set_params *) {
    vorel_open_enclosing(ctxt, nullptr, "service-set-policy-usage-stats",
                         "Interface\t\tService Set\tBytes\t\tCompressed?\n", {xml_attr_xmlns()});
    for (const asp_info *asp = nullptr; (asp = vorel_db_asp_find_next(asp));) {
        for (const svc_set_info *ss = nullptr; (ss = vorel_db_svc_set_find_next(asp, ss));) {
            if (ctxt->xml) {
                xml_send_open("service-set-policy-usage");
                xml_send_all("service-set-name", "%s", ss->name);
                xml_send_all("interface-name", "%s", asp->name);
                xml_send_all("size_bytes", "%u", ss->cfg_len);
                xml_send_all("compressed", "%d", ss->compressed);
                xml_send_close("service-set-policy-usage");
            } else {
                std::printf("%s\t\t%s\t\t%u\t\t%d\n", asp->name, ss->name, ss->cfg_len,
                            ss->compressed);
            }
        }
    }
    return 0;
}

int no_query(vorel_ctx *, services_ui_conn *, asp_info *, svc_set_info *, svc_set_params *) {
    return 0;
}

void policy_walk(pic_walk &walk, svc_set_params &) {
    walk.admit = [](const asp_info &) { return false; };
}

} // namespace

const svc_set_op svc_set_plugin_op = {
    "plugin", {"plugin", svc_set_nothing, svc_set_nothing, plugin_query}, plugin_walk};
const svc_set_op svc_set_policy_op = {
    "policy", {"policy", policy_open, svc_set_close_enclosing, no_query}, policy_walk};
