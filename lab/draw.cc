#include "lab/draw.h"

#include "lab/agents_module.h"

#include <map>
#include <set>
#include <sstream>

namespace vorel::lab {

namespace {

using Slot = std::pair<unsigned, unsigned>; // FPC, PIC

// What the picture shows of one PIC slot.
struct SlotView {
    std::vector<std::string> interfaces;
    std::vector<std::string> lines; // PIC record, service sets, tunnel groups
    bool agent = false;
};

// A logical interface: a redundant pair or an aggregated bundle.
struct LogicalView {
    std::string kind;
    std::vector<std::string> lines;                                // its service sets
    std::vector<std::tuple<std::string, std::string, bool>> edges; // to, label, solid
};

struct Router {
    std::map<unsigned, std::map<unsigned, SlotView>> fpcs;
    std::set<unsigned> linecards;
    std::map<std::string, Slot> slot_of;
    std::map<std::string, LogicalView> logical; // in name order
};

std::string text(const YAML::Node &n, const char *key) {
    const YAML::Node v = n[key];
    return v && v.IsScalar() ? v.Scalar() : std::string();
}

unsigned number(const YAML::Node &n, const char *key) {
    try {
        const YAML::Node v = n[key];
        return v && v.IsScalar() ? v.as<unsigned>() : 0;
    } catch (const YAML::Exception &) {
        return 0;
    }
}

// Every entry of a list section, over all documents.
template <class F> void each(const std::vector<YAML::Node> &docs, const char *section, F f) {
    for (const YAML::Node &d : docs)
        if (d[section] && d[section].IsSequence())
            for (const YAML::Node &n : d[section])
                if (n.IsMap())
                    f(n);
}

void read_interfaces(const std::vector<YAML::Node> &docs, Router &r) {
    each(docs, "interfaces", [&](const YAML::Node &n) {
        std::string name = text(n, "name");
        if (const YAML::Node red = n["redundancy"]) {
            LogicalView &v = r.logical[name];
            v.kind = "redundant pair";
            std::string active = text(red, "active");
            for (const char *side : {"primary", "secondary"}) {
                std::string member = text(red, side);
                bool is_active = member == active;
                v.edges.emplace_back(member, std::string(side) + (is_active ? ", active" : ""),
                                     is_active);
            }
        } else if (const YAML::Node lb = n["load_balancing"]) {
            LogicalView &v = r.logical[name];
            v.kind = "aggregated bundle";
            if (lb["members"] && lb["members"].IsSequence())
                for (const YAML::Node &m : lb["members"])
                    v.edges.emplace_back(text(m, "name"), "member", true);
        } else if (n["fpc"]) {
            Slot s{number(n, "fpc"), number(n, "pic")};
            r.slot_of[name] = s;
            r.fpcs[s.first][s.second].interfaces.push_back(name);
        }
    });
}

void read_pics_and_sets(const std::vector<YAML::Node> &docs, Router &r) {
    each(docs, "pics", [&](const YAML::Node &n) {
        r.fpcs[number(n, "fpc")][number(n, "pic")].lines.push_back("PIC id " + text(n, "id"));
    });
    each(docs, "service_sets", [&](const YAML::Node &n) {
        std::string line = text(n, "name") + " (" + text(n, "id") + ")";
        std::string where = n["pic"] ? text(n, "pic") : text(n, "interface");
        if (auto s = r.slot_of.find(where); s != r.slot_of.end())
            r.fpcs[s->second.first][s->second.second].lines.push_back("set " + line);
        else if (auto l = r.logical.find(where); l != r.logical.end())
            l->second.lines.push_back("set " + line);
    });
    each(docs, "tunnel_groups", [&](const YAML::Node &n) {
        r.fpcs[number(n, "fpc")][number(n, "pic")].lines.push_back(
            "tunnel group " + text(n, "name") + " (" + text(n, "id") + ")");
    });
}

void read_agents(const std::vector<YAML::Node> &docs, Router &r) {
    each(docs, "agents", [&](const YAML::Node &n) {
        if (n["linecard"]) {
            r.linecards.insert(n["linecard"].as<unsigned>(0));
            return;
        }
        const YAML::Node p = n["pic"];
        unsigned fpc = 0, pic = 0;
        if (p.IsMap()) {
            fpc = number(p, "fpc");
            pic = number(p, "pic");
        } else if (!p.IsScalar() || !parse_pic_name(p.Scalar(), fpc, pic)) {
            return;
        }
        r.fpcs[fpc][pic].agent = true;
    });
}

// A dot string: quoted, with quotes and backslashes escaped.
std::string quoted(const std::string &s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            q += '\\';
        q += c;
    }
    return q + "\"";
}

// A label of several lines, each left-aligned ("\l" ends a line).
std::string label(const std::vector<std::string> &lines) {
    std::string joined;
    for (const auto &l : lines) {
        for (char c : l) {
            if (c == '"' || c == '\\')
                joined += '\\';
            joined += c;
        }
        joined += "\\l";
    }
    return "\"" + joined + "\"";
}

std::string slot_node(unsigned fpc, unsigned pic) {
    return quoted("pic " + std::to_string(fpc) + "/" + std::to_string(pic));
}

void write_fpc(std::ostringstream &out, unsigned fpc, const std::map<unsigned, SlotView> &pics,
               bool linecard) {
    out << "  subgraph " << quoted("cluster_fpc" + std::to_string(fpc)) << " {\n";
    out << "    label=" << quoted("FPC " + std::to_string(fpc)) << ";\n";
    if (linecard)
        out << "    " << quoted("linecard " + std::to_string(fpc)) << " [shape=box3d, label="
            << label({"line card " + std::to_string(fpc), "inline services"}) << "];\n";
    for (const auto &[pic, v] : pics) {
        // Without an agent of its own, a slot of a line card's FPC is
        // answered for by the line card (its inline service interfaces).
        const bool answered = v.agent || linecard;
        std::vector<std::string> lines;
        std::string names;
        for (const auto &i : v.interfaces)
            names += (names.empty() ? "" : " | ") + i;
        lines.push_back(
            (names.empty() ? "PIC " + std::to_string(fpc) + "/" + std::to_string(pic) : names) +
            (answered ? "" : "  (no agent)"));
        lines.insert(lines.end(), v.lines.begin(), v.lines.end());
        out << "    " << slot_node(fpc, pic) << " [label=" << label(lines)
            << (answered ? "" : ", style=dashed") << "];\n";
        if (!v.agent && linecard)
            out << "    " << quoted("linecard " + std::to_string(fpc)) << " -> "
                << slot_node(fpc, pic) << " [style=dotted, arrowhead=none];\n";
    }
    out << "  }\n";
}

} // namespace

std::string draw_router(const std::vector<YAML::Node> &documents, const std::string &name) {
    Router r;
    read_interfaces(documents, r);
    read_pics_and_sets(documents, r);
    read_agents(documents, r);
    for (unsigned lc : r.linecards)
        r.fpcs[lc]; // a line card's FPC is drawn even without PICs

    std::ostringstream out;
    out << "digraph router {\n";
    out << "  graph [label=" << quoted(name) << ", labelloc=t, rankdir=LR, fontname=Helvetica];\n";
    out << "  node [shape=box, fontname=Helvetica, fontsize=10];\n";
    out << "  edge [fontname=Helvetica, fontsize=9];\n";
    for (const auto &[fpc, pics] : r.fpcs)
        write_fpc(out, fpc, pics, r.linecards.count(fpc) != 0);
    for (const auto &[lname, v] : r.logical) {
        std::vector<std::string> lines{lname + " (" + v.kind + ")"};
        lines.insert(lines.end(), v.lines.begin(), v.lines.end());
        out << "  " << quoted(lname) << " [shape=ellipse, label=" << label(lines) << "];\n";
        for (const auto &[to, edge_label, solid] : v.edges) {
            auto s = r.slot_of.find(to);
            std::string target =
                s == r.slot_of.end() ? quoted(to) : slot_node(s->second.first, s->second.second);
            out << "  " << quoted(lname) << " -> " << target << " [label=" << quoted(edge_label)
                << (solid ? "" : ", style=dashed") << "];\n";
        }
    }
    out << "}\n";
    return out.str();
}

} // namespace vorel::lab
