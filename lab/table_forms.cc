#include "lab/table_forms.h"

#include "platform/services_ui.h"

#include <algorithm>
#include <cstring>

namespace vorel::lab {

namespace {

constexpr size_t kAddrFlag = 16;
// Most entries one generated block may hold.
constexpr uint64_t kMaxBlockEntries = 100000000;

int line_of(const YAML::Node &n) {
    YAML::Mark m = n.Mark();
    return m.is_null() ? 0 : m.line + 1;
}

struct OpName {
    const char *name;
    TableOp op;
};
const OpName kOps[] = {{"list", TableOp::List},
                       {"count", TableOp::Count},
                       {"clear", TableOp::Clear},
                       {"zero", TableOp::Zero}};

// The FieldAt of a field the layout has.
FieldAt at_field(const FieldRef &f) {
    FieldAt at;
    at.present = true;
    at.offset = f.offset;
    at.width = f.width;
    return at;
}

// A named field of `l`, as the field kinds `want` allow.
FieldAt field_of(const Layout &l, const YAML::Node &name, ScenarioReader &r, bool address) {
    FieldAt at;
    if (!name.IsScalar()) {
        r.error(name, "a field name of layout '" + l.name + "'");
        return at;
    }
    auto f = locate_field(l, name.Scalar());
    bool number = f && (f->kind == FieldKind::U8 || f->kind == FieldKind::Be16 ||
                        f->kind == FieldKind::Be32 || f->kind == FieldKind::Be64);
    // An address key may also be a plain 32-bit IPv4 address.
    bool addr = f && (f->kind == FieldKind::Addr || f->kind == FieldKind::Be32);
    if (!f || (address ? !addr : !number)) {
        r.error(name, "layout '" + l.name + "' has no " + (address ? "address" : "number") +
                          " field '" + name.Scalar() + "'");
        return at;
    }
    return at_field(*f);
}

// A named field of `l` of any kind, compared as bytes.
FieldAt bytes_field(const Layout &l, const YAML::Node &name, ScenarioReader &r) {
    auto f = name.IsScalar() ? locate_field(l, name.Scalar()) : std::nullopt;
    if (!f || f->kind == FieldKind::Struct) {
        r.error(name, "layout '" + l.name + "' has no field '" +
                          (name.IsScalar() ? name.Scalar() : "") + "'");
        return {};
    }
    return at_field(*f);
}

// A request field compared as bytes; `svc_set_id` names the header's
// service-set id where the layout has no field of that name (an agent kept
// per PIC that answers for one service set or, given 0, for all).
FieldAt request_field(const Layout &l, const YAML::Node &name, ScenarioReader &r) {
    if (name.IsScalar() && name.Scalar() == "svc_set_id" && !locate_field(l, "svc_set_id")) {
        FieldAt at;
        at.present = true;
        at.offset = kMsgSvcSetOffset;
        at.width = 2;
        return at;
    }
    return bytes_field(l, name, r);
}

FieldAt named_field(const Layout &l, const char *name) {
    auto f = locate_field(l, name);
    return f ? at_field(*f) : FieldAt{};
}

// The 16 address bytes and the family of an addr field.
PrefixFilter prefix_of(const uint8_t *req, const FieldAt &prefix, const FieldAt &mask) {
    PrefixFilter p;
    if (!prefix.present || !mask.present)
        return p;
    std::memcpy(p.addr, req + prefix.offset, 16);
    std::memcpy(p.mask, req + mask.offset, 16);
    p.ipv6 = req[prefix.offset + kAddrFlag] != 0;
    return p;
}

AddressRange range_of(const uint8_t *req, const TableService::Range &r) {
    AddressRange a;
    a.given = r.given.read(req) != 0;
    if (a.given && r.first.present && r.last.present) {
        std::memcpy(a.first, req + r.first.offset, 16);
        std::memcpy(a.last, req + r.last.offset, 16);
    }
    return a;
}

RangeFilter range_filter_of(const TableService &s, const uint8_t *req) {
    RangeFilter f;
    f.subscriber = range_of(req, s.subs_range);
    f.softwire = range_of(req, s.sw_range);
    f.nat = range_of(req, s.nat_range);
    f.port_given = s.port_given.read(req) != 0;
    f.port = static_cast<uint16_t>(s.subs_port.read(req));
    return f;
}

FlowFilter flow_filter_of(const TableService &s, const uint8_t *req) {
    FlowFilter f;
    f.source = prefix_of(req, s.sprefix, s.smask);
    f.destination = prefix_of(req, s.dprefix, s.dmask);
    f.source_port = static_cast<uint16_t>(s.sport.read(req));
    f.destination_port = static_cast<uint16_t>(s.dport.read(req));
    f.protocol = s.proto.present ? static_cast<uint16_t>(s.proto.read(req)) : 65535;
    f.application = static_cast<uint32_t>(s.alg.read(req));
    return f;
}

// The address bytes (and IPv6 flag at 16) of an address key: an addr
// field's own, or an IPv4 word widened into `room`.
const uint8_t *address_of(const FieldAt &f, const uint8_t *e, uint8_t (&room)[kAddrFlag + 1]) {
    if (!f.present || f.width == 4) {
        std::memset(room, 0, sizeof room);
        if (f.present)
            std::memcpy(room, e + f.offset, 4);
        return room;
    }
    return e + f.offset;
}

FlowKey flow_key_of(const TableForm &form, const uint8_t *e, uint8_t (&room)[3][kAddrFlag + 1]) {
    FlowKey k;
    k.source = address_of(form.source, e, room[0]);
    k.destination = address_of(form.destination, e, room[1]);
    k.ipv6 = k.source[kAddrFlag] != 0;
    k.source_port = static_cast<uint16_t>(form.source_port.read(e));
    k.destination_port = static_cast<uint16_t>(form.destination_port.read(e));
    k.protocol = static_cast<uint16_t>(form.protocol.read(e));
    k.application = static_cast<uint32_t>(form.application.read(e));
    k.has_application = form.application.present;
    return k;
}

} // namespace

void TableForms::add(const YAML::Node &list, const LayoutSet &layouts, ScenarioReader &r) {
    if (!list.IsSequence()) {
        r.error(list, "tables is a list of {name, entry, per, key, serve}");
        return;
    }
    for (const auto &n : list) {
        if (!n.IsMap()) {
            r.error(n, "a table is a map {name, entry, per, key, serve}");
            continue;
        }
        r.only_keys(n, {"name", "entry", "per", "key", "keep", "follow", "serve", "description"});
        auto name = r.text(n, "name", true);
        auto entry = r.text(n, "entry", true);
        if (!name || !entry)
            continue;
        if (find(*name)) {
            r.error(n["name"], "table '" + *name + "' is defined twice");
            continue;
        }
        auto form = std::make_unique<TableForm>();
        form->name = *name;
        if (const Structure *st = layouts.find_structure(*entry)) {
            form->entry = st->as_layout();
        } else if (const Layout *l = layouts.find(*entry)) {
            form->entry = *l;
            form->entry_is_message = true;
        } else {
            r.error(n["entry"], "no structure or layout '" + *entry + "'");
            continue;
        }
        form->main_size = form->entry.size;
        if (YAML::Node follow = n["follow"])
            add_follow(follow, *form, layouts, r);
        std::string per = r.text_or(n, "per", "svc_set");
        if (per != "svc_set" && per != "pic")
            r.error(n["per"], "per is svc_set or pic");
        form->per_svc_set = per == "svc_set";
        if (YAML::Node key = n["key"]) {
            r.only_keys(key, {"source", "destination", "source_port", "destination_port",
                              "protocol", "application", "softwire", "translated"});
            const Layout &e = form->entry;
            if (key["source"])
                form->source = field_of(e, key["source"], r, true);
            if (key["destination"])
                form->destination = field_of(e, key["destination"], r, true);
            if (key["source_port"])
                form->source_port = field_of(e, key["source_port"], r, false);
            if (key["destination_port"])
                form->destination_port = field_of(e, key["destination_port"], r, false);
            if (key["protocol"])
                form->protocol = field_of(e, key["protocol"], r, false);
            if (key["application"])
                form->application = field_of(e, key["application"], r, false);
            if (key["softwire"])
                form->softwire = field_of(e, key["softwire"], r, true);
            form->translated =
                key["translated"] ? field_of(e, key["translated"], r, true) : form->destination;
        }
        if (YAML::Node keep = n["keep"]) {
            if (!keep.IsSequence())
                r.error(keep, "keep is a list of the entry's fields");
            else
                for (const auto &f : keep)
                    form->keep.push_back(bytes_field(form->entry, f, r));
        }
        forms_.push_back(std::move(form));
        if (YAML::Node serve = n["serve"]) {
            if (!serve.IsSequence())
                r.error(serve, "serve is a list of {request, do, filter, limit, reply, ...}");
            else
                for (const auto &s : serve)
                    add_service(s, *forms_.back(), layouts, r);
        }
    }
}

void TableForms::add_service(const YAML::Node &n, const TableForm &form, const LayoutSet &layouts,
                             ScenarioReader &r) {
    if (!n.IsMap()) {
        r.error(n, "a service is a map {request, do, filter, limit, reply, entry_at, number}");
        return;
    }
    r.only_keys(n, {"request", "do", "filter", "limit", "reply", "entry_at", "number", "parts",
                    "per_reply", "copies", "scope", "also", "when", "equal", "echo", "count_by",
                    "sum", "same"});
    TableService s;
    s.form = &form;
    s.line = line_of(n);
    auto req_name = r.text(n, "request", true);
    auto op = r.text(n, "do", true);
    if (!req_name || !op)
        return;
    const Layout *req = layouts.find(*req_name);
    if (!req) {
        r.error(n["request"], "unknown layout '" + *req_name + "'");
        return;
    }
    s.type = req->type;
    s.version = req->version;
    s.request_size = req->size;
    bool known = false;
    for (const auto &o : kOps)
        if (*op == o.name)
            s.op = o.op, known = true;
    if (!known) {
        r.error(n["do"], "do is list, count, clear or zero");
        return;
    }
    if (YAML::Node f = n["filter"]) {
        if (f.IsScalar() && f.Scalar() == "nat_ranges") {
            s.filter = FilterKind::Ranges;
            auto range = [&](const char *name) {
                std::string n_ = name;
                return TableService::Range{named_field(*req, (n_ + "_start").c_str()),
                                           named_field(*req, (n_ + "_end").c_str()),
                                           named_field(*req, (n_ + "_given").c_str())};
            };
            s.subs_range = range("subs");
            s.sw_range = range("sw");
            s.nat_range = range("nat");
            s.subs_port = named_field(*req, "subs_port");
            s.port_given = named_field(*req, "port_given");
            if (!s.subs_range.first.present || !s.subs_range.given.present)
                r.error(f, "layout '" + req->name + "' does not carry the NAT clear's ranges");
        } else if (!f.IsScalar() || f.Scalar() != "flow_filter") {
            r.error(f, "filter names the request's filter block: flow_filter or nat_ranges");
        } else {
            s.filter = FilterKind::Flow;
            s.sprefix = named_field(*req, "sprefix");
            s.smask = named_field(*req, "smask");
            s.dprefix = named_field(*req, "dprefix");
            s.dmask = named_field(*req, "dmask");
            s.sport = named_field(*req, "sport");
            s.dport = named_field(*req, "dport");
            s.proto = named_field(*req, "proto");
            s.alg = named_field(*req, "alg");
            if (!s.sprefix.present || !s.smask.present)
                r.error(f, "layout '" + req->name + "' does not carry the flow filter block");
        }
    }
    if (n["limit"])
        s.limit = field_of(*req, n["limit"], r, false);
    if (YAML::Node equal = n["equal"]) {
        if (!equal.IsMap())
            r.error(equal, "equal is a map {request field: entry field}");
        else
            for (const auto &kv : equal) {
                FieldAt in_request = request_field(*req, kv.first, r);
                FieldAt in_entry = bytes_field(form.entry, kv.second, r);
                if (in_request.present && in_entry.present && in_request.width != in_entry.width)
                    r.error(kv.second, "the two fields of an equal selector differ in width");
                s.equal.emplace_back(in_request, in_entry);
            }
    }
    if (YAML::Node same = n["same"]) {
        if (!same.IsMap())
            r.error(same, "same is a map {request field: entry field}");
        else
            for (const auto &kv : same)
                s.same.emplace_back(field_of(*req, kv.first, r, false),
                                    field_of(form.entry, kv.second, r, false));
    }
    if (YAML::Node when = n["when"]) {
        if (!when.IsMap())
            r.error(when, "when is a map {request field: value}");
        else
            for (const auto &kv : when)
                s.when.emplace_back(field_of(*req, kv.first, r, false),
                                    r.number_or(when, kv.first.Scalar().c_str(), 0, UINT64_MAX));
    }
    s.parts = r.flag_or(n, "parts", false);
    s.per_reply = r.number_or(n, "per_reply", 1, kMaxLayoutSize);
    s.copies = static_cast<unsigned>(r.number_or(n, "copies", 1, 16));
    std::string scope = r.text_or(n, "scope", "svc_set");
    if (scope != "svc_set" && scope != "pic")
        r.error(n["scope"], "scope is svc_set or pic");
    s.whole_pic = scope == "pic";
    add_also(n["also"], s, r);
    const Layout *reply = nullptr;
    if (auto reply_name = r.text(n, "reply")) {
        reply = layouts.find(*reply_name);
        if (!reply) {
            r.error(n["reply"], "unknown layout '" + *reply_name + "'");
            return;
        }
        s.reply = blank_message(*reply);
        if (n["number"])
            s.number = field_of(*reply, n["number"], r, false);
        if (n["entry_at"]) {
            s.entry_at = r.number_or(n, "entry_at", 0, kMaxLayoutSize);
            if (form.entry_is_message || s.entry_at < kMsgHeaderSize ||
                s.entry_at + s.per_reply * form.entry.size > reply->size)
                r.error(n["entry_at"], "the entry does not fit reply '" + reply->name + "' at " +
                                           std::to_string(s.entry_at));
        }
    }
    if (YAML::Node sum = n["sum"]) {
        if (!sum.IsMap() || sum.size() != 1 || !reply || s.op != TableOp::Clear) {
            r.error(sum, "sum is {ENTRY FIELD: REPLY FIELD} of a clear with a reply");
        } else {
            s.sum_of = field_of(form.entry, sum.begin()->first, r, false);
            s.sum_into = field_of(*reply, sum.begin()->second, r, false);
        }
    }
    if (YAML::Node by = n["count_by"])
        add_count_by(by, form, reply, s, r);
    if (YAML::Node echo = n["echo"]) {
        const Layout *message = reply ? reply : &form.entry;
        if (!echo.IsMap() || (s.reply.empty() && !form.entry_is_message))
            r.error(echo, "echo is a map {request field: reply field}");
        else
            for (const auto &kv : echo) {
                FieldAt in_request = bytes_field(*req, kv.first, r);
                FieldAt in_reply = bytes_field(*message, kv.second, r);
                if (in_request.present && in_reply.present && in_request.width != in_reply.width)
                    r.error(kv.second, "the two fields of an echo differ in width");
                s.echo.emplace_back(in_request, in_reply);
            }
    }
    bool listing = s.op == TableOp::List;
    if (listing && s.reply.empty() && !form.entry_is_message)
        r.error(n, "a list of entries that are not messages needs reply and entry_at");
    if (!listing && !s.reply.empty() && s.op != TableOp::Zero && !s.number.present)
        r.error(n, "a count or clear reply names its number field (number)");
    if (s.per_reply > 1 && (!listing || !s.number.present || !s.entry_at))
        r.error(n, "per_reply lists entries into a reply at entry_at, counted in its number field");
    if (s.whole_pic && s.op != TableOp::Zero && s.op != TableOp::Clear)
        r.error(n["scope"], "scope belongs to a clear or a zeroing");
    if (!s.also.empty() && s.op != TableOp::Zero && s.op != TableOp::Clear)
        r.error(n["also"], "also belongs to a clear or a zeroing");
    services_.push_back(std::move(s));
}

// follow: {layout: FOLLOWER, name: ARRAY, count: COUNT FIELD, room: N}: the
// entry layout grows by an array of N followers after the first message,
// whose count field defaults to the number of followers given.
void TableForms::add_follow(const YAML::Node &follow, TableForm &form, const LayoutSet &layouts,
                            ScenarioReader &r) {
    r.only_keys(follow, {"layout", "name", "count", "room"});
    auto layout = r.text(follow, "layout", true);
    auto name = r.text(follow, "name", true);
    const Layout *f = layout ? layouts.find(*layout) : nullptr;
    if (!form.entry_is_message || !f || !name) {
        r.error(follow, "follow names a layout of the messages that follow an entry that is a "
                        "message, the array's name, its count field and its room");
        return;
    }
    form.follower = *f;
    form.follower_header = blank_message(*f);
    form.follower_header.resize(kMsgHeaderSize);
    form.follow_room = r.number_or(follow, "room", 1, 64);
    form.follow_count = field_of(form.entry, follow["count"], r, false);
    LayoutField array;
    array.name = *name;
    array.kind = FieldKind::Struct;
    array.offset = form.main_size;
    array.count = form.follow_room;
    array.width = array.stride = f->size;
    array.fields = f->fields;
    for (auto &field : form.entry.fields)
        if (form.follow_count.present && field.offset == form.follow_count.offset)
            field.count_of = *name;
    form.entry.fields.push_back(std::move(array));
    form.entry.size = form.main_size + form.follow_room * f->size;
}

// count_by: {field: ENTRY FIELD, numbers: {VALUE: REPLY FIELD, ...}}
void TableForms::add_count_by(const YAML::Node &by, const TableForm &form, const Layout *reply,
                              TableService &s, ScenarioReader &r) {
    if (!by.IsMap() || !by["field"] || !by["numbers"] || !by["numbers"].IsMap() || !reply ||
        s.op != TableOp::Count) {
        r.error(by, "count_by is {field: ENTRY FIELD, numbers: {VALUE: REPLY FIELD}} of a count "
                    "with a reply");
        return;
    }
    r.only_keys(by, {"field", "numbers"});
    s.count_by = field_of(form.entry, by["field"], r, false);
    for (const auto &kv : by["numbers"]) {
        auto value = r.as_number(kv.first, UINT64_MAX);
        s.counts.emplace_back(value.value_or(0), field_of(*reply, kv.second, r, false));
    }
}

void TableForms::add_also(const YAML::Node &also, TableService &s, ScenarioReader &r) const {
    if (!also)
        return;
    if (!also.IsSequence()) {
        r.error(also, "also is a list of tables defined above");
        return;
    }
    for (const auto &name : also) {
        const TableForm *other = name.IsScalar() ? find(name.Scalar()) : nullptr;
        if (!other)
            r.error(name, "no table '" + (name.IsScalar() ? name.Scalar() : "") + "' above");
        else
            s.also.push_back(other);
    }
}

const TableForm *TableForms::find(const std::string &name) const {
    for (const auto &f : forms_)
        if (f->name == name)
            return f.get();
    return nullptr;
}

const TableService *
TableForms::service_for(const ByteReader &request,
                        const std::vector<std::unique_ptr<AgentTable>> &tables) const {
    uint16_t type = request.be16(kMsgTypeOffset), version = request.be16(kMsgVersionOffset);
    auto holds = [&](const std::pair<FieldAt, uint64_t> &w) {
        const FieldAt &f = w.first;
        // A field past a short request's end reads as zero.
        uint64_t v =
            request.has(f.offset, f.width) ? load_be(request.data() + f.offset, f.width) : 0;
        return v == w.second;
    };
    auto kept = [&](const TableService &s) {
        return std::any_of(tables.begin(), tables.end(), [&](const auto &t) {
            return t->form == s.form ||
                   std::find(s.also.begin(), s.also.end(), t->form) != s.also.end();
        });
    };
    for (const auto &s : services_)
        if (s.type == type && s.version == version &&
            std::all_of(s.when.begin(), s.when.end(), holds) && kept(s))
            return &s;
    return nullptr;
}

void load_agent_tables(const YAML::Node &list, const TableForms &forms, ScenarioReader &r,
                       std::vector<std::unique_ptr<AgentTable>> &out) {
    if (!list.IsSequence()) {
        r.error(list, "an agent's tables is a list of {table, svc_set_id, entries}");
        return;
    }
    for (const auto &n : list) {
        if (!n.IsMap()) {
            r.error(n, "a table is a map {table, svc_set_id, entries}");
            continue;
        }
        r.only_keys(n, {"table", "svc_set_id", "entries", "description"});
        auto name = r.text(n, "table", true);
        const TableForm *form = name ? forms.find(*name) : nullptr;
        if (!form) {
            if (name)
                r.error(n["table"], "no table '" + *name + "' (the layout files' tables:)");
            continue;
        }
        std::optional<uint16_t> id;
        if (auto v = r.number(n, "svc_set_id", 65535, form->per_svc_set))
            id = static_cast<uint16_t>(*v);
        if (id && !form->per_svc_set)
            r.error(n["svc_set_id"], "table '" + *name + "' is kept per PIC");
        // Several entries for one table (an included file, say) add blocks.
        AgentTable *t = nullptr;
        for (auto &have : out)
            if (have->form == form && have->svc_set_id == id)
                t = have.get();
        if (!t) {
            t = out.emplace_back(std::make_unique<AgentTable>(form, form->entry.size)).get();
            t->svc_set_id = id;
        }
        YAML::Node entries = n["entries"];
        if (!entries)
            continue;
        if (!entries.IsSequence()) {
            r.error(entries, "entries is a list of {fields, count, vary}");
            continue;
        }
        for (const auto &e : entries) {
            if (!e.IsMap()) {
                r.error(e, "an entry is a map {fields, count, vary}");
                continue;
            }
            r.only_keys(e, {"fields", "count", "vary", "header"});
            auto message = std::make_shared<MessageSpec>(
                read_entry(e, form->entry, form->entry_is_message, r));
            uint64_t count = r.number_or(e, "count", 1, kMaxBlockEntries);
            if (!e["count"] && message->vary.empty()) {
                t->table.add_listed(message->bytes);
                continue;
            }
            size_t size = message->bytes.size();
            t->table.add_generated(count, [message, size](uint64_t i, uint8_t *dst) {
                std::memcpy(dst, message->bytes.data(), size);
                message->patch(dst, size, i);
            });
        }
    }
}

namespace {

void store_number(uint8_t *msg, const FieldAt &field, uint64_t number) {
    if (!field.present)
        return;
    unsigned bits = field.width * 8;
    uint64_t most = bits >= 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
    store_be(msg + field.offset, field.width, std::min(number, most));
}

// An entry's first message, then as many followers as its count field
// says (at most the room), each with its layout's header.
void send_with_followers(const TableForm &form, const uint8_t *e, uint8_t kind, FrameSink &out) {
    std::memcpy(out.frame(kind, form.main_size), e, form.main_size);
    const size_t size = form.follower.size;
    uint64_t n = std::min<uint64_t>(form.follow_count.read(e), form.follow_room);
    for (uint64_t k = 0; k < n; k++) {
        uint8_t *f = out.frame(kind, size);
        std::memcpy(f, e + form.main_size + k * size, size);
        std::memcpy(f, form.follower_header.data(), kMsgHeaderSize);
    }
}

void echo_request(const TableService &s, const uint8_t *request, uint8_t *msg) {
    for (const auto &[from, to] : s.echo)
        std::memcpy(msg + to.offset, request + from.offset, to.width);
}

} // namespace

namespace {

// One request answered from an agent's tables.
class TableAnswer {
  public:
    TableAnswer(const TableService &s, const ByteReader &request)
        : s_(s), form_(*s.form), req_(request.data(), request.data() + request.size()) {
        // The request as its layout sees it: a short one reads as zero past its end.
        if (req_.size() < s.request_size)
            req_.resize(s.request_size, 0);
        if (s.filter == FilterKind::Flow)
            flows_ = flow_filter_of(s, req_.data());
        if (s.filter == FilterKind::Ranges)
            ranges_ = range_filter_of(s, req_.data());
        by_kind_.assign(s.counts.size(), 0);
    }

    // The tables the request reads or changes: its service set's (every
    // set's when a whole-PIC clear names none), of its form and of those
    // it also clears or resets.  False: the agent keeps none of them.
    bool choose(std::vector<std::unique_ptr<AgentTable>> &tables) {
        const uint16_t id = load_be(req_.data() + kMsgSvcSetOffset, 2);
        const bool every_set = s_.whole_pic && id == 0;
        bool keeps_form = false;
        for (auto &t : tables) {
            const TableForm *f = t->form;
            if (f != &form_ && std::find(s_.also.begin(), s_.also.end(), f) == s_.also.end())
                continue;
            keeps_form = true;
            if (!f->per_svc_set || every_set || t->svc_set_id == id) {
                targets_.push_back(t.get());
                if (f == &form_ && !table_)
                    table_ = t.get();
            }
        }
        return keeps_form;
    }

    void run(FrameSink &out) {
        switch (s_.op) {
        case TableOp::List:
            if (table_)
                list(out);
            if (s_.parts)
                out.frame(SERVICES_UI_FRAME_OBJECT_END, 0);
            return; // a listing has no reply of its own
        case TableOp::Count:
            count();
            break;
        case TableOp::Clear:
            clear();
            break;
        case TableOp::Zero:
            zero();
            break;
        }
        reply(out);
    }

  private:
    // Whether the request selects entry e of a table of form f (its own or
    // one it also clears).
    bool selected(const TableForm &f, const uint8_t *e) const {
        for (const auto &[in_request, in_entry] : s_.equal) {
            const uint8_t *want = req_.data() + in_request.offset;
            bool any = std::all_of(want, want + in_request.width, [](uint8_t b) { return b == 0; });
            if (!any && std::memcmp(want, e + in_entry.offset, in_entry.width) != 0)
                return false;
        }
        for (const auto &[in_request, in_entry] : s_.same)
            if (in_request.read(req_.data()) != in_entry.read(e))
                return false;
        uint8_t room[3][kAddrFlag + 1];
        switch (s_.filter) {
        case FilterKind::Flow:
            return flow_matches(flows_, flow_key_of(f, e, room));
        case FilterKind::Ranges:
            return range_matches(ranges_, RangeKey{address_of(f.source, e, room[0]),
                                                   address_of(f.softwire, e, room[1]),
                                                   address_of(f.translated, e, room[2]),
                                                   static_cast<uint16_t>(f.source_port.read(e))});
        case FilterKind::None:
            break;
        }
        return true;
    }

    // The selected entries in table order, at most the request's limit:
    // each as its own message (with its followers), or in copies of the
    // reply, `per_reply` side by side.
    void list(FrameSink &out) {
        const uint64_t limit = s_.limit.read(req_.data());
        const uint8_t kind = s_.parts ? SERVICES_UI_FRAME_PART : SERVICES_UI_FRAME_REPLY;
        uint64_t listed = 0;
        // The reply being filled and how many entries it holds; its count is
        // written before the next frame is asked for (which may send it).
        uint8_t *msg = nullptr;
        uint64_t in_msg = 0;
        table_->table.for_each([&](uint64_t index, const uint8_t *e) {
            if (!selected(form_, e))
                return true;
            if (s_.reply.empty() && form_.follow_room) {
                send_with_followers(form_, e, kind, out);
                return limit == 0 || ++listed < limit;
            }
            uint8_t *at;
            if (s_.reply.empty()) {
                at = msg = out.frame(kind, form_.entry.size);
            } else {
                if (!msg || in_msg == s_.per_reply) {
                    if (msg)
                        store_number(msg, s_.number, in_msg);
                    msg = out.frame(kind, s_.reply.size());
                    std::memcpy(msg, s_.reply.data(), s_.reply.size());
                    in_msg = 0;
                }
                at = msg + s_.entry_at + in_msg++ * form_.entry.size;
            }
            copy_entry(at, e, table_->zeroed.contains(index));
            echo_request(s_, req_.data(), msg);
            return limit == 0 || ++listed < limit;
        });
        if (msg && s_.per_reply > 1)
            store_number(msg, s_.number, in_msg);
    }

    // A zeroed entry keeps its header (a message's) and the fields its form
    // keeps, and reads zero elsewhere.
    void copy_entry(uint8_t *at, const uint8_t *e, bool zeroed) const {
        const size_t size = form_.entry.size;
        const size_t keep =
            !zeroed ? size : std::min(size, form_.entry_is_message ? kMsgHeaderSize : size_t{0});
        std::memcpy(at, e, keep);
        std::memset(at + keep, 0, size - keep);
        if (zeroed)
            for (const FieldAt &f : form_.keep)
                std::memcpy(at + f.offset, e + f.offset, f.width);
    }

    void count() {
        if (!table_)
            return;
        table_->table.for_each([&](uint64_t, const uint8_t *e) {
            if (!selected(form_, e))
                return true;
            number_++;
            const uint64_t value = s_.count_by.read(e);
            for (size_t k = 0; k < s_.counts.size(); k++)
                by_kind_[k] += s_.counts[k].first == value;
            return true;
        });
    }

    void clear() {
        for (AgentTable *t : targets_)
            number_ += t->table.remove_if([&](const uint8_t *e) {
                const bool hit = selected(*t->form, e);
                if (hit)
                    summed_ += s_.sum_of.read(e);
                return hit;
            });
    }

    // The request's selectors choose the entries of its own form; the tables
    // it also resets are zeroed whole.
    void zero() {
        for (AgentTable *t : targets_)
            t->table.for_each([&](uint64_t index, const uint8_t *e) {
                if (t->form != &form_ || selected(form_, e))
                    t->zeroed.remove(index, index + 1);
                return true;
            });
    }

    void reply(FrameSink &out) const {
        for (unsigned c = 0; c < s_.copies && !s_.reply.empty(); c++) {
            uint8_t *msg = out.frame(SERVICES_UI_FRAME_REPLY, s_.reply.size());
            std::memcpy(msg, s_.reply.data(), s_.reply.size());
            store_number(msg, s_.number, number_);
            store_number(msg, s_.sum_into, summed_);
            for (size_t k = 0; k < s_.counts.size(); k++)
                store_number(msg, s_.counts[k].second, by_kind_[k]);
            echo_request(s_, req_.data(), msg);
        }
    }

    const TableService &s_;
    const TableForm &form_;
    std::vector<uint8_t> req_;
    FlowFilter flows_;
    RangeFilter ranges_;
    std::vector<AgentTable *> targets_;
    AgentTable *table_ = nullptr; // the request's own table of its form
    uint64_t number_ = 0, summed_ = 0;
    std::vector<uint64_t> by_kind_; // entries counted of each `counts` value
};

} // namespace

bool answer_from_tables(const TableService &s, std::vector<std::unique_ptr<AgentTable>> &tables,
                        const ByteReader &request, FrameSink &out) {
    TableAnswer answer(s, request);
    if (!answer.choose(tables))
        return false;
    answer.run(out);
    return true;
}

} // namespace vorel::lab
