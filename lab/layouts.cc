#include "lab/layouts.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vorel::lab {

// The layout files compiled into the lab (generated from lab/layouts/*.yaml).
struct EmbeddedLayoutFile {
    const char *name;
    const char *text;
};
extern const EmbeddedLayoutFile kEmbeddedLayoutFiles[];
extern const size_t kEmbeddedLayoutFileCount;

void store_be(uint8_t *dst, unsigned width, uint64_t v) {
    for (unsigned i = width; i > 0; i--) {
        dst[i - 1] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

uint64_t load_be(const uint8_t *src, unsigned width) {
    uint64_t v = 0;
    for (unsigned i = 0; i < width; i++)
        v = v << 8 | src[i];
    return v;
}

bool encode_address(std::string_view text, uint8_t out[20]) {
    std::memset(out, 0, 20);
    std::string s(text);
    if (inet_pton(AF_INET, s.c_str(), out) == 1)
        return true;
    if (inet_pton(AF_INET6, s.c_str(), out) == 1) {
        out[16] = 1;
        return true;
    }
    std::memset(out, 0, 20);
    return false;
}

namespace {

constexpr size_t kAddrSize = 20;
constexpr size_t kAddrWordsSize = 16;
constexpr size_t kAddrFlagOffset = 16;
constexpr uint64_t kMaxRepeat = 100000000;

struct KindName {
    const char *name;
    FieldKind kind;
    size_t width; // 0: given by the field
};

const KindName kKinds[] = {
    {"u8", FieldKind::U8, 1},
    {"be16", FieldKind::Be16, 2},
    {"be32", FieldKind::Be32, 4},
    {"be64", FieldKind::Be64, 8},
    {"text", FieldKind::Text, 0},
    {"bytes", FieldKind::Bytes, 0},
    {"addr", FieldKind::Addr, kAddrSize},
    {"addr16", FieldKind::Addr16, kAddrWordsSize},
};

bool is_number(FieldKind k) {
    return k == FieldKind::U8 || k == FieldKind::Be16 || k == FieldKind::Be32 ||
           k == FieldKind::Be64;
}

std::string where(const YAML::Node &n, const ScenarioReader &r) {
    YAML::Mark m = n.Mark();
    return r.file() + (m.is_null() ? "" : ":" + std::to_string(m.line + 1));
}

const LayoutField *find_field(const std::vector<LayoutField> &fields, std::string_view name) {
    for (const auto &f : fields)
        if (f.name == name)
            return &f;
    return nullptr;
}

// Reads the field definitions of a layout or of an array's element; every
// field must end within `extent` bytes and begin at `first` or later.
class LayoutParser {
  public:
    LayoutParser(ScenarioReader &r, const LayoutSet &set) : r_(r), set_(set) {}

    std::optional<Structure> structure(const YAML::Node &n) {
        if (!n.IsMap()) {
            r_.error(n, "a structure is a map (name, size, fields)");
            return std::nullopt;
        }
        r_.only_keys(n, {"name", "size", "fields", "description"});
        Structure st;
        st.name = r_.text(n, "name", true).value_or("");
        st.size = r_.number(n, "size", kMaxLayoutSize, true).value_or(0);
        st.origin = where(n, r_);
        if (st.size == 0) {
            r_.error(n, "a structure has a positive size");
            return std::nullopt;
        }
        if (n["fields"])
            fields(n["fields"], 0, st.size, st.fields);
        if (st.name.empty())
            return std::nullopt;
        return st;
    }

    std::optional<Layout> layout(const YAML::Node &n) {
        if (!n.IsMap()) {
            r_.error(n, "a layout is a map (name, type, version, size, fields)");
            return std::nullopt;
        }
        r_.only_keys(n, {"name", "type", "version", "size", "fields", "description"});
        Layout l;
        l.name = r_.text(n, "name", true).value_or("");
        l.type = static_cast<uint16_t>(r_.number(n, "type", 65535, true).value_or(0));
        l.version = static_cast<uint16_t>(r_.number_or(n, "version", 1, 65535));
        l.size = r_.number(n, "size", kMaxLayoutSize, true).value_or(kMsgHeaderSize);
        l.origin = where(n, r_);
        if (l.size < kMsgHeaderSize) {
            r_.error(n["size"], "a message holds at least its 8-byte header");
            l.size = kMsgHeaderSize;
        }
        if (n["fields"])
            fields(n["fields"], kMsgHeaderSize, l.size, l.fields);
        if (l.name.empty())
            return std::nullopt;
        return l;
    }

  private:
    void fields(const YAML::Node &list, size_t first, size_t extent,
                std::vector<LayoutField> &out) {
        if (!list.IsSequence()) {
            r_.error(list, "fields is a list of {name, offset, type, ...}");
            return;
        }
        for (const auto &n : list) {
            if (n.IsMap() && n["include"]) {
                include(n, first, extent, out);
                continue;
            }
            auto f = field(n, first, extent);
            if (!f)
                continue;
            add_field(n, std::move(*f), out);
        }
        check_count_of(list, out);
    }

    void add_field(const YAML::Node &n, LayoutField f, std::vector<LayoutField> &out) {
        if (find_field(out, f.name))
            r_.error(n, "field '" + f.name + "' is defined twice");
        else
            out.push_back(std::move(f));
    }

    // {include: NAME, offset: N}: the structure's fields at N more.
    void include(const YAML::Node &n, size_t first, size_t extent, std::vector<LayoutField> &out) {
        r_.only_keys(n, {"include", "offset"});
        auto name = r_.text(n, "include", true);
        auto offset = r_.number(n, "offset", kMaxLayoutSize, true);
        if (!name || !offset)
            return;
        const Structure *st = set_.find_structure(*name);
        if (!st) {
            r_.error(n["include"], "no structure '" + *name + "'");
            return;
        }
        if (*offset < first || *offset + st->size > extent) {
            r_.error(n, "structure '" + *name + "' at " + std::to_string(*offset) +
                            " does not fit between " + std::to_string(first) + " and " +
                            std::to_string(extent));
            return;
        }
        for (LayoutField f : st->fields) {
            f.offset += *offset;
            add_field(n, std::move(f), out);
        }
    }

    // A `count_of` must name an array beside the field.
    void check_count_of(const YAML::Node &list, const std::vector<LayoutField> &out) {
        for (const auto &n : list) {
            if (!n.IsMap() || !n["count_of"] || !n["count_of"].IsScalar())
                continue;
            const LayoutField *a = find_field(out, n["count_of"].Scalar());
            if (!a || !a->is_array())
                r_.error(n["count_of"],
                         "count_of names no array field '" + n["count_of"].Scalar() + "'");
        }
    }

    std::optional<LayoutField> field(const YAML::Node &n, size_t first, size_t extent) {
        if (!n.IsMap()) {
            r_.error(n, "a field is a map {name, offset, type, ...}");
            return std::nullopt;
        }
        r_.only_keys(n, {"name", "offset", "type", "width", "count", "stride", "fields",
                         "structure", "count_of"});
        LayoutField f;
        auto name = r_.text(n, "name", true);
        auto offset = r_.number(n, "offset", kMaxLayoutSize, true);
        if (!name || !offset)
            return std::nullopt;
        f.name = *name;
        f.offset = *offset;
        f.count = r_.number_or(n, "count", 0, 65535);
        if (n["count"] && f.count == 0)
            r_.error(n["count"], "an array has at least one element");
        if (!element(n, f))
            return std::nullopt;
        if (f.offset < first) {
            r_.error(n, "field '" + f.name + "' overlaps the message header");
            return std::nullopt;
        }
        size_t elements = f.is_array() ? f.count : 1;
        size_t end = f.offset + (elements - 1) * f.stride + f.width;
        if (end > extent) {
            r_.error(n, "field '" + f.name + "' ends at byte " + std::to_string(end) +
                            ", past the end (" + std::to_string(extent) + ")");
            return std::nullopt;
        }
        if (n["count_of"]) {
            f.count_of = r_.text_or(n, "count_of", "");
            if (!is_number(f.kind) || f.is_array())
                r_.error(n["count_of"], "count_of belongs to a single number field");
        }
        return f;
    }

    // The element's kind, width and stride (and its own fields for structures).
    bool element(const YAML::Node &n, LayoutField &f) {
        if (n["structure"])
            return structure_element(n, f);
        if (n["fields"]) {
            if (n["type"])
                r_.error(n["type"], "an array of structures has fields, not a type");
            if (!f.is_array() || !n["stride"]) {
                r_.error(n, "a structure field needs count and stride");
                return false;
            }
            f.kind = FieldKind::Struct;
            f.stride = r_.number_or(n, "stride", 0, kMaxLayoutSize);
            f.width = f.stride;
            if (f.stride == 0) {
                r_.error(n["stride"], "stride must be positive");
                return false;
            }
            fields(n["fields"], 0, f.stride, f.fields);
            return true;
        }
        auto type = r_.text(n, "type", true);
        if (!type)
            return false;
        const KindName *kn = nullptr;
        for (const auto &k : kKinds)
            if (*type == k.name)
                kn = &k;
        if (!kn) {
            r_.error(n["type"], "unknown field type '" + *type +
                                    "' (u8, be16, be32, be64, text, addr, bytes)");
            return false;
        }
        f.kind = kn->kind;
        f.width = kn->width;
        if (f.width == 0) {
            f.width = r_.number(n, "width", kMaxLayoutSize, true).value_or(0);
            if (f.width == 0)
                return false;
        } else if (n["width"]) {
            r_.error(n["width"], std::string("a ") + kn->name + " field has a fixed width");
        }
        f.stride = r_.number_or(n, "stride", f.width, kMaxLayoutSize);
        if (f.stride < f.width) {
            r_.error(n["stride"], "stride is smaller than the element");
            return false;
        }
        return true;
    }

    // An array whose element is a named structure.
    bool structure_element(const YAML::Node &n, LayoutField &f) {
        if (n["fields"] || n["type"])
            r_.error(n, "an array of a named structure has neither fields nor a type");
        auto name = r_.text(n, "structure", true);
        const Structure *st = name ? set_.find_structure(*name) : nullptr;
        if (!st) {
            if (name)
                r_.error(n["structure"], "no structure '" + *name + "'");
            return false;
        }
        if (!f.is_array()) {
            r_.error(n, "a structure field needs count");
            return false;
        }
        f.kind = FieldKind::Struct;
        f.stride = r_.number_or(n, "stride", st->size, kMaxLayoutSize);
        f.width = st->size;
        if (f.stride < f.width) {
            r_.error(n["stride"], "stride is smaller than the element");
            return false;
        }
        f.fields = st->fields;
        return true;
    }

    ScenarioReader &r_;
    const LayoutSet &set_;
};

// A number for a field of `width` bytes: 0 .. 2^bits-1, or a negative value
// down to -2^(bits-1) stored in two's complement.
std::optional<uint64_t> field_number(const YAML::Node &v, unsigned width, const std::string &field,
                                     ScenarioReader &r) {
    if (!v.IsScalar() || v.Scalar().empty()) {
        r.error(v, "field '" + field + "' needs a number");
        return std::nullopt;
    }
    const std::string &s = v.Scalar();
    unsigned bits = width * 8;
    char *end = nullptr;
    errno = 0;
    std::string range = bits == 64 ? "64 bits" : "0.." + std::to_string((uint64_t{1} << bits) - 1);
    if (s[0] == '-') {
        long long x = std::strtoll(s.c_str(), &end, 0);
        if (errno || *end) {
            r.error(v, "value '" + s + "' of field '" + field + "' is not a number in " + range);
            return std::nullopt;
        }
        long long min = bits == 64 ? LLONG_MIN : -(1LL << (bits - 1));
        if (x < min) {
            r.error(v, "value " + s + " does not fit field '" + field + "' (" + range + ")");
            return std::nullopt;
        }
        return static_cast<uint64_t>(x);
    }
    unsigned long long x = std::strtoull(s.c_str(), &end, 0);
    if (errno || *end || s[0] == '+') {
        r.error(v, "value '" + s + "' of field '" + field + "' is not a number in " + range);
        return std::nullopt;
    }
    if (bits < 64 && x >> bits) {
        r.error(v, "value " + s + " does not fit field '" + field + "' (" + range + ")");
        return std::nullopt;
    }
    return x;
}

// Fills the fields a message names into its buffer.
class Encoder {
  public:
    Encoder(ScenarioReader &r, const Layout &l, std::vector<uint8_t> &buf)
        : r_(r), l_(l), buf_(buf) {}

    void fields(const std::vector<LayoutField> &defs, size_t base, const YAML::Node &values) {
        if (!values.IsMap()) {
            r_.error(values, "fields is a map of field names to values");
            return;
        }
        for (const auto &kv : values) {
            const std::string &name = kv.first.Scalar();
            const LayoutField *f = find_field(defs, name);
            if (!f) {
                r_.error(kv.first, "layout '" + l_.name + "' has no field '" + name + "'");
                continue;
            }
            if (f->is_array())
                array(*f, base + f->offset, kv.second);
            else
                scalar(*f, base + f->offset, kv.second);
        }
        default_counts(defs, base, values);
    }

  private:
    void array(const LayoutField &f, size_t at, const YAML::Node &v) {
        if (!v.IsSequence()) {
            r_.error(v, "field '" + f.name + "' is an array: give a list");
            return;
        }
        if (v.size() > f.count) {
            r_.error(v, "field '" + f.name + "' holds at most " + std::to_string(f.count) +
                            " elements, " + std::to_string(v.size()) + " given");
            return;
        }
        for (size_t i = 0; i < v.size(); i++) {
            if (f.kind == FieldKind::Struct)
                fields(f.fields, at + i * f.stride, v[i]);
            else
                scalar(f, at + i * f.stride, v[i]);
        }
    }

    void scalar(const LayoutField &f, size_t at, const YAML::Node &v) {
        uint8_t *dst = buf_.data() + at;
        switch (f.kind) {
        case FieldKind::U8:
        case FieldKind::Be16:
        case FieldKind::Be32:
        case FieldKind::Be64:
            if (auto x = field_number(v, static_cast<unsigned>(f.width), f.name, r_))
                store_be(dst, static_cast<unsigned>(f.width), *x);
            break;
        case FieldKind::Text:
            if (!v.IsScalar())
                r_.error(v, "field '" + f.name + "' needs a text");
            else if (v.Scalar().size() > f.width)
                r_.error(v, "text of " + std::to_string(v.Scalar().size()) +
                                " bytes does not fit field '" + f.name + "' (" +
                                std::to_string(f.width) + " bytes)");
            else
                std::memcpy(dst, v.Scalar().data(), v.Scalar().size());
            break;
        case FieldKind::Bytes:
            if (auto b = r_.bytes(v)) {
                if (b->size() > f.width)
                    r_.error(v, std::to_string(b->size()) + " bytes do not fit field '" + f.name +
                                    "' (" + std::to_string(f.width) + " bytes)");
                else if (!b->empty()) // empty bytes have no storage to copy from
                    std::memcpy(dst, b->data(), b->size());
            }
            break;
        case FieldKind::Addr:
            if (!v.IsScalar() || !encode_address(v.Scalar(), dst))
                r_.error(v, "bad address '" + (v.IsScalar() ? v.Scalar() : std::string("?")) +
                                "' for field '" + f.name + "' (expected 10.1.2.3 or 2001:db8::1)");
            break;
        case FieldKind::Addr16: {
            uint8_t full[kAddrSize];
            if (!v.IsScalar() || !encode_address(v.Scalar(), full))
                r_.error(v, "bad address '" + (v.IsScalar() ? v.Scalar() : std::string("?")) +
                                "' for field '" + f.name + "' (expected 10.1.2.3 or 2001:db8::1)");
            else
                std::memcpy(dst, full, kAddrWordsSize);
            break;
        }
        case FieldKind::Struct:
            r_.error(v, "field '" + f.name + "' is a structure");
            break;
        }
    }

    // A count field that the message leaves out takes the length of its array.
    void default_counts(const std::vector<LayoutField> &defs, size_t base,
                        const YAML::Node &values) {
        for (const auto &f : defs) {
            if (f.count_of.empty() || values[f.name])
                continue;
            YAML::Node arr = values[f.count_of];
            if (!arr || !arr.IsSequence())
                continue;
            unsigned w = static_cast<unsigned>(f.width);
            if (w < 8 && arr.size() >> (w * 8))
                r_.error(arr, "too many elements for count field '" + f.name + "'");
            else
                store_be(buf_.data() + base + f.offset, w, arr.size());
        }
    }

    ScenarioReader &r_;
    const Layout &l_;
    std::vector<uint8_t> &buf_;
};

// Where a field path ("count", "entries.3.session_id") lies in a layout.
struct Resolved {
    const LayoutField *field = nullptr;
    size_t offset = 0;
};

std::optional<Resolved> resolve(const Layout &l, const std::string &path) {
    const std::vector<LayoutField> *defs = &l.fields;
    size_t base = 0;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t dot = path.find('.', pos);
        std::string part =
            path.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        pos = dot == std::string::npos ? path.size() + 1 : dot + 1;
        const LayoutField *f = find_field(*defs, part);
        if (!f)
            return std::nullopt;
        base += f->offset;
        if (f->is_array()) {
            if (pos > path.size())
                return std::nullopt; // an array needs an index
            dot = path.find('.', pos);
            std::string idx =
                path.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
            pos = dot == std::string::npos ? path.size() + 1 : dot + 1;
            char *end = nullptr;
            unsigned long i = std::strtoul(idx.c_str(), &end, 10);
            if (idx.empty() || *end || i >= f->count)
                return std::nullopt;
            base += i * f->stride;
        }
        if (f->kind != FieldKind::Struct) {
            if (pos <= path.size())
                return std::nullopt; // nothing lies below a scalar
            return Resolved{f, base};
        }
        if (pos > path.size())
            return std::nullopt; // a whole structure cannot vary
        defs = &f->fields;
    }
    return std::nullopt;
}

std::optional<VaryField> read_vary(const std::string &path, const YAML::Node &vary_node,
                                   const Layout &l, std::vector<uint8_t> &buf, ScenarioReader &r,
                                   const YAML::Node &key) {
    auto res = resolve(l, path);
    if (!res || !(is_number(res->field->kind) || res->field->kind == FieldKind::Addr)) {
        r.error(key, "layout '" + l.name + "' has no number or address field '" + path +
                         "' (arrays as NAME.INDEX.FIELD)");
        return std::nullopt;
    }
    if (!vary_node.IsMap()) {
        r.error(vary_node, "vary takes {start: S, step: K}");
        return std::nullopt;
    }
    r.only_keys(vary_node, {"start", "step"});
    VaryField v;
    const LayoutField &f = *res->field;
    if (f.kind == FieldKind::Addr) {
        // An address varies in its last word: word 0 for IPv4, word 3 for IPv6.
        if (vary_node["start"] && (!vary_node["start"].IsScalar() ||
                                   !encode_address(vary_node["start"].Scalar(), &buf[res->offset])))
            r.error(vary_node["start"], "bad address for the start of '" + path + "'");
        v.offset = res->offset + (buf[res->offset + kAddrFlagOffset] ? 12 : 0);
        v.width = 4;
        v.start = load_be(&buf[v.offset], 4);
    } else {
        v.offset = res->offset;
        v.width = static_cast<unsigned>(f.width);
        v.start = load_be(&buf[v.offset], v.width);
        if (vary_node["start"])
            v.start = field_number(vary_node["start"], v.width, path, r).value_or(0);
    }
    if (vary_node["step"])
        v.step =
            static_cast<uint64_t>(r.as_signed(vary_node["step"], LLONG_MIN, LLONG_MAX).value_or(1));
    return v;
}

void read_header(const YAML::Node &h, std::vector<uint8_t> &buf, MessageSpec &m,
                 ScenarioReader &r) {
    if (!h.IsMap()) {
        r.error(h, "header takes {type, version, msg_len, svc_set_id}");
        return;
    }
    r.only_keys(h, {"type", "version", "msg_len", "svc_set_id"});
    const std::pair<const char *, size_t> fields[] = {{"type", kMsgTypeOffset},
                                                      {"version", kMsgVersionOffset},
                                                      {"msg_len", kMsgLenOffset},
                                                      {"svc_set_id", kMsgSvcSetOffset}};
    for (const auto &[name, off] : fields)
        if (auto v = r.number(h, name, 65535))
            store_be(&buf[off], 2, *v);
    if (h["type"])
        m.type_fixed = true;
}

// The fields, header and vary of a layout message (or, without a header, of
// a table entry) into m.
void read_fields(const YAML::Node &n, const Layout &l, bool header, ScenarioReader &r,
                 MessageSpec &m) {
    std::vector<uint8_t> &buf = m.bytes;
    buf.assign(l.size, 0);
    if (header) {
        store_be(&buf[kMsgTypeOffset], 2, l.type);
        store_be(&buf[kMsgVersionOffset], 2, l.version);
        store_be(&buf[kMsgLenOffset], 2, (l.size + 3) / 4);
    }
    if (n["fields"]) {
        Encoder e(r, l, buf);
        e.fields(l.fields, 0, n["fields"]);
    }
    if (header && n["header"])
        read_header(n["header"], buf, m, r);
    if (YAML::Node vary = n["vary"]) {
        if (!vary.IsMap())
            r.error(vary, "vary is a map of field names to {start, step}");
        else
            for (const auto &kv : vary)
                if (auto v = read_vary(kv.first.Scalar(), kv.second, l, buf, r, kv.first))
                    m.vary.push_back(*v);
    }
}

std::optional<MessageSpec> read_layout_message(const YAML::Node &n, const LayoutSet &layouts,
                                               ScenarioReader &r) {
    r.only_keys(n, {"layout", "fields", "header", "repeat", "vary"});
    auto name = r.text(n, "layout", true);
    if (!name)
        return std::nullopt;
    const Layout *l = layouts.find(*name);
    if (!l) {
        r.error(n["layout"], "unknown layout '" + *name + "'");
        return std::nullopt;
    }
    MessageSpec m;
    m.type_fixed = false;
    read_fields(n, *l, true, r, m);
    return m;
}

} // namespace

void MessageSpec::patch(uint8_t *msg, size_t len, uint64_t i) const {
    for (const auto &v : vary)
        if (v.offset + v.width <= len)
            store_be(msg + v.offset, v.width, v.start + i * v.step);
}

std::optional<MessageSpec> read_message(const YAML::Node &n, const LayoutSet &layouts,
                                        ScenarioReader &r) {
    if (!n.IsMap() || !(n["bytes"] || n["layout"])) {
        r.error(n, "a message is {bytes: HEX} or {layout: NAME, fields: {...}}");
        return std::nullopt;
    }
    std::optional<MessageSpec> m;
    if (n["bytes"]) {
        r.only_keys(n, {"bytes", "repeat"});
        if (auto b = r.bytes(n["bytes"])) {
            m.emplace();
            m->bytes = std::move(*b);
        }
    } else {
        m = read_layout_message(n, layouts, r);
    }
    if (m)
        m->repeat = r.number_or(n, "repeat", 1, kMaxRepeat);
    return m;
}

MessageSpec read_entry(const YAML::Node &n, const Layout &entry, bool header, ScenarioReader &r) {
    MessageSpec m;
    read_fields(n, entry, header, r, m);
    return m;
}

std::optional<FieldRef> locate_field(const Layout &l, const std::string &path) {
    auto res = resolve(l, path);
    if (!res)
        return std::nullopt;
    return FieldRef{res->offset, static_cast<unsigned>(res->field->width), res->field->kind};
}

Layout Structure::as_layout() const {
    Layout l;
    l.name = name;
    l.size = size;
    l.fields = fields;
    l.origin = origin;
    return l;
}

std::vector<uint8_t> blank_message(const Layout &l) {
    std::vector<uint8_t> buf(std::max(l.size, kMsgHeaderSize), 0);
    store_be(&buf[kMsgTypeOffset], 2, l.type);
    store_be(&buf[kMsgVersionOffset], 2, l.version);
    store_be(&buf[kMsgLenOffset], 2, (l.size + 3) / 4);
    return buf;
}

namespace {

// Adds the named definitions of a list (layouts or structures) to `into`;
// a name may be defined once.
template <typename T, typename Parse>
void add_named(const YAML::Node &list, ScenarioReader &reader, const std::string &what,
               std::map<std::string, T, std::less<>> &into, Parse parse) {
    if (!list.IsSequence()) {
        reader.error(list, what + "s is a list of " + what + "s");
        return;
    }
    for (const auto &n : list) {
        std::optional<T> def = parse(n);
        if (!def)
            continue;
        auto it = into.find(def->name);
        if (it != into.end()) {
            reader.error(n,
                         what + " '" + def->name + "' is already defined at " + it->second.origin);
            continue;
        }
        std::string name = def->name;
        into.emplace(std::move(name), std::move(*def));
    }
}

} // namespace

void LayoutSet::add(const YAML::Node &list, ScenarioReader &reader) {
    LayoutParser p(reader, *this);
    add_named(list, reader, "layout", layouts_, [&](const YAML::Node &n) { return p.layout(n); });
}

void LayoutSet::add_structures(const YAML::Node &list, ScenarioReader &reader) {
    LayoutParser p(reader, *this);
    add_named(list, reader, "structure", structures_,
              [&](const YAML::Node &n) { return p.structure(n); });
}

// Every file's structures first, then the layouts, so that a layout may use
// a structure of another file.
void LayoutSet::add_builtin(std::vector<std::string> &errors, const FileHook &after_layouts) {
    struct File {
        ScenarioReader reader;
        YAML::Node root;
    };
    std::vector<File> files;
    files.reserve(kEmbeddedLayoutFileCount);
    for (size_t i = 0; i < kEmbeddedLayoutFileCount; i++) {
        const EmbeddedLayoutFile &f = kEmbeddedLayoutFiles[i];
        File &file = files.emplace_back(File{ScenarioReader(f.name), YAML::Node()});
        try {
            file.root = YAML::Load(f.text);
            if (!file.root.IsMap() || !file.root["layouts"])
                file.reader.error(file.root, "a layout file holds `layouts:`");
            else if (file.root["structures"])
                add_structures(file.root["structures"], file.reader);
        } catch (const YAML::Exception &e) {
            file.reader.error_at(e.mark.is_null() ? -1 : e.mark.line, e.mark.column, e.msg);
            file.root = YAML::Node();
        }
    }
    for (File &file : files)
        if (file.root.IsMap() && file.root["layouts"])
            add(file.root["layouts"], file.reader);
    for (File &file : files) {
        if (after_layouts && file.root.IsMap())
            after_layouts(file.root, file.reader);
        errors.insert(errors.end(), file.reader.errors().begin(), file.reader.errors().end());
    }
}

const Structure *LayoutSet::find_structure(std::string_view name) const {
    auto it = structures_.find(name);
    return it == structures_.end() ? nullptr : &it->second;
}

const Layout *LayoutSet::find(std::string_view name) const {
    auto it = layouts_.find(name);
    return it == layouts_.end() ? nullptr : &it->second;
}

} // namespace vorel::lab
