// The Configuration snapshot: its ordered maps, lookups and listings.
#include "vorel/vorel_db.h"

#include <cstdio>
#include <cstring>

namespace {

std::map<asp_key, std::unique_ptr<asp_info>> g_asp_tree;

asp_key key_of(const asp_info &a) {
    return vorel_db_asp_key(a.fpc_slot, a.pic_slot, a.ifd_index);
}

svc_set_key svc_key(const char *name) {
    svc_set_key k{};
    if (name)
        std::memcpy(k.data(), name, strnlen(name, SVC_SET_NAME_LEN));
    return k;
}

// The record after prev (or the first) whose ASP_F_SI bit equals want_si.
asp_info *find_next_of_kind(const asp_info *prev, bool want_si) {
    auto it = prev ? g_asp_tree.upper_bound(key_of(*prev)) : g_asp_tree.begin();
    for (; it != g_asp_tree.end(); ++it)
        if (((it->second->flags & ASP_F_SI) != 0) == want_si)
            return it->second.get();
    return nullptr;
}

} // namespace

asp_key vorel_db_asp_key(uint16_t fpc, uint16_t pic, uint16_t ifd_index) {
    return {uint8_t(fpc),      uint8_t(fpc >> 8),  uint8_t(pic),
            uint8_t(pic >> 8), uint8_t(ifd_index), uint8_t(ifd_index >> 8)};
}

asp_info *vorel_db_asp_find_next(const asp_info *prev) {
    return find_next_of_kind(prev, false);
}

si_info *vorel_db_si_find_next(const si_info *prev) {
    return find_next_of_kind(prev, true);
}

asp_info *vorel_db_asp_find_by_name(const char *name) {
    if (!name)
        return nullptr;
    for (auto &[k, a] : g_asp_tree)
        if (std::strncmp(a->name, name, ASP_NAME_LEN) == 0)
            return a.get();
    return nullptr;
}

asp_info *vorel_db_asp_find(uint16_t fpc, uint16_t pic, uint16_t ifd_index) {
    auto it = g_asp_tree.find(vorel_db_asp_key(fpc, pic, ifd_index));
    return it == g_asp_tree.end() ? nullptr : it->second.get();
}

svc_set_info *vorel_db_svc_set_find_next(const asp_info *asp, const svc_set_info *prev) {
    if (!asp)
        return nullptr;
    auto it = prev ? asp->svc_sets.upper_bound(svc_key(prev->name)) : asp->svc_sets.begin();
    return it == asp->svc_sets.end() ? nullptr : it->second.get();
}

svc_set_info *vorel_db_svc_set_find_by_id(const asp_info *asp, uint16_t id) {
    if (!asp)
        return nullptr;
    for (auto &[k, ss] : asp->svc_sets)
        if (ss->id == id)
            return ss.get();
    return nullptr;
}

svc_set_info *vorel_db_svc_set_find_by_name(const asp_info *asp, const char *name) {
    if (!asp || !name)
        return nullptr;
    auto it = asp->svc_sets.find(svc_key(name));
    return it == asp->svc_sets.end() ? nullptr : it->second.get();
}

asp_info *vorel_db_asp_add(std::unique_ptr<asp_info> rec, bool replace) {
    asp_key k = key_of(*rec);
    auto it = g_asp_tree.find(k);
    if (it == g_asp_tree.end())
        return g_asp_tree.emplace(k, std::move(rec)).first->second.get();
    if (replace)
        it->second = std::move(rec); // the old record goes with its service sets
    return it->second.get();
}

int vorel_db_svc_set_add(asp_info *asp, const svc_set_info &ss) {
    svc_set_key k = svc_key(ss.name);
    if (asp->svc_sets.count(k))
        return -1;
    asp->svc_sets.emplace(k, std::make_unique<svc_set_info>(ss));
    return 0;
}

void vorel_db_prune_empty(bool (*keep)(const asp_info &)) {
    for (auto it = g_asp_tree.begin(); it != g_asp_tree.end();) {
        if (it->second->svc_sets.empty() && !keep(*it->second))
            it = g_asp_tree.erase(it);
        else
            ++it;
    }
}

void vorel_db_clear() {
    g_asp_tree.clear();
}

void vorel_db_dump(const vorel_ctx *ctxt) {
    if (ctxt && ctxt->xml)
        return;
    std::printf("PIC             Service Set (ID)\n");
    std::printf("%s\n", std::string(78, '-').c_str());
    for (auto &[k, a] : g_asp_tree)
        for (auto &[n, ss] : a->svc_sets)
            std::printf("%-16.60s%.64s (%u)\n", a->name, ss->name, ss->id);
}

void vorel_db_dump_svc_set_names() {
    for (auto &[k, a] : g_asp_tree)
        for (auto &[n, ss] : a->svc_sets)
            std::printf("%.64s\n", ss->name);
}

namespace {

struct plugin_row {
    const char *name;
    int id;
};

// The built-in service plug-ins, by position.
const plugin_row svc_plugins[] = {
    {"norix-stateful-firewall", 1},
    {"norix-nat", 16},
    {"norix-pcp", 2},
    {"norix-ipsec", 3},
    {"norix-ids", 4},
    {"norix-cos", 5},
    {"norix-pgcp", 6},
    {"norix-aacl", 7},
    {"norix-llpdf", 8},
    {"norix-qdpi", 9},
    {"norix-idp", 10},
    {"norix-cpcd", 11},
    {"norix-msp-rpm", 12},
    {"norix-hcm", 13},
    {"norix-hcm-pkt", 15},
    {"norix-qflow", 18},
    {"norix-url-filter", 19},
    {"norix-dnsf", 20},
    {"norix-softwire-head", 21},
};

struct extra_plugin_row {
    int id;
    const char *name;
};

const extra_plugin_row extra_plugins[] = {
    {21, "http-manager"}, {22, "http-packet-manager"}, {23, nullptr}};

// The listed positions; 20 lies past the end of the table and prints nothing.
const int listed_positions[] = {0, 1, 6, 9, 10, 12, 20};

// The plug-in's short name: what follows its family prefix.
const char *short_plugin_name(const char *name) {
    for (const char *prefix : {"norix-msp-", "norix-qrt-", "norix-"}) {
        if (const char *p = std::strstr(name, prefix))
            return p + std::strlen(prefix);
    }
    return nullptr;
}

} // namespace

void vorel_db_dump_svc_plugin_names() {
    const size_t table_size = sizeof svc_plugins / sizeof svc_plugins[0];
    for (int pos : listed_positions) {
        if (pos < 0 || static_cast<size_t>(pos) >= table_size)
            continue;
        if (const char *s = short_plugin_name(svc_plugins[pos].name))
            std::printf("%s\n", s);
    }
    for (const auto &row : extra_plugins) {
        if (!row.name)
            break;
        if (row.id == 21 || row.id == 22)
            std::printf("%s\n", row.name);
    }
}
