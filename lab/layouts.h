// Message layouts: how the lab's agents build Services UI messages from
// named fields instead of hex.
//
// A layout is data (YAML): a message type and version, the message's size
// and its fields at fixed offsets.  The layouts of every command family live
// in lab/layouts/*.yaml and are compiled into the lab; a scenario may add its
// own under `layouts:`.  A scenario message then names a layout and gives
// values for the fields it cares about; everything else is zero, and the
// header (type, version, msg_len from the size, svc_set_id 0) is filled in
// unless the message overrides it.
//
//   layouts:
//     - name: tcplog_conn_reply
//       type: 318
//       version: 1
//       size: 14360
//       fields:
//         - {name: count, offset: 16, type: be16, count_of: entries}
//         - name: entries
//           offset: 24
//           count: 256
//           stride: 56
//           fields:
//             - {name: state, offset: 0, type: u8}
//             - {name: local_addr, offset: 4, type: addr}
//
// Field types: u8, be16, be32, be64 (numbers; negative values are stored in
// two's complement), text and bytes (with a width), addr (the 20-byte
// address value: four big-endian 32-bit words, IPv4 in the first, and an
// IPv6 flag byte at 16), addr16 (the 16 address bytes alone, for tables
// whose entries keep the family elsewhere).  A field with `count` is an array: of structures
// when it has `fields`, of scalars of `type` otherwise; `stride` is the
// distance between elements.  `count_of: ARRAY` makes a number field default
// to how many elements the message gives for that array.
#pragma once

#include "lab/scenario.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <yaml-cpp/yaml.h>

namespace vorel::lab {

enum class FieldKind : uint8_t { U8, Be16, Be32, Be64, Text, Addr, Addr16, Bytes, Struct };

struct LayoutField {
    std::string name;
    FieldKind kind = FieldKind::U8;
    size_t offset = 0;
    size_t width = 0;                // bytes of one element
    size_t count = 0;                // 0: a single value; otherwise an array of count elements
    size_t stride = 0;               // arrays: distance between elements
    std::vector<LayoutField> fields; // structure elements
    std::string count_of;            // number fields: the array whose length they default to
    bool is_array() const { return count > 0; }
};

struct Layout {
    std::string name;
    uint16_t type = 0;
    uint16_t version = 1;
    size_t size = 0;
    std::vector<LayoutField> fields;
    std::string origin; // "FILE:LINE" where it was defined
};

// A named sub-structure that layouts use by name (a filter block, a record
// that several replies carry), written once in a file's `structures:`:
//
//   structures:
//     - name: flow_filter
//       size: 88
//       fields:
//         - {name: sprefix, offset: 0, type: addr}
//
// A layout's field list takes it in place with {include: NAME, offset: N}
// (its fields, at N more, become the layout's own, under their names), or
// as the element of an array with {name, offset, count, structure: NAME}
// (the stride defaults to the structure's size).
struct Structure {
    std::string name;
    size_t size = 0;
    std::vector<LayoutField> fields;
    std::string origin;
    // The structure as a layout without a header (table entries).
    Layout as_layout() const;
};

// Largest message a layout may describe: msg_len is a 16-bit count of
// 32-bit words.
constexpr size_t kMaxLayoutSize = 65535u * 4;

// The header every message begins with.
constexpr size_t kMsgHeaderSize = 8;
constexpr size_t kMsgTypeOffset = 0;
constexpr size_t kMsgVersionOffset = 2;
constexpr size_t kMsgLenOffset = 4;
constexpr size_t kMsgSvcSetOffset = 6;

class LayoutSet {
  public:
    // Adds the layouts of a `layouts:` list; faults go to reader.
    void add(const YAML::Node &list, ScenarioReader &reader);
    // Adds the sub-structures of a `structures:` list.
    void add_structures(const YAML::Node &list, ScenarioReader &reader);
    // Adds the layouts compiled into the lab.  Each file is reported under
    // its own name ("lab/layouts/tcplog.yaml:12:5: ...") into errors.
    // after_layouts sees each file's root once every file's layouts are in.
    using FileHook = std::function<void(const YAML::Node &root, ScenarioReader &reader)>;
    void add_builtin(std::vector<std::string> &errors, const FileHook &after_layouts = nullptr);
    const Layout *find(std::string_view name) const;
    const Structure *find_structure(std::string_view name) const;
    size_t size() const { return layouts_.size(); }

  private:
    std::map<std::string, Layout, std::less<>> layouts_;
    std::map<std::string, Structure, std::less<>> structures_;
};

// One field of every copy of a generated message that changes from copy to
// copy: copy i holds start + i * step (modulo the field's width).
struct VaryField {
    size_t offset = 0;
    unsigned width = 0; // 1, 2, 4 or 8
    uint64_t start = 0;
    uint64_t step = 1;
};

// A message of a scenario, ready to send: the encoded bytes and, for big
// answers, how many copies go out and which fields vary between them.
struct MessageSpec {
    std::vector<uint8_t> bytes;
    uint64_t repeat = 1;
    std::vector<VaryField> vary;
    // False for layout messages whose header type may be set by the large
    // object they belong to.
    bool type_fixed = true;

    // Writes the varying fields of copy i into msg (len bytes of the
    // template, possibly cut short); fields past len are left out.
    void patch(uint8_t *msg, size_t len, uint64_t i) const;
};

// Reads one message: {bytes: HEX} or {layout: NAME, fields: {...},
// header: {...}, repeat: N, vary: {FIELD: {start: S, step: K}}}.
std::optional<MessageSpec> read_message(const YAML::Node &node, const LayoutSet &layouts,
                                        ScenarioReader &reader);

// A table entry's block: {fields, vary} encoded against `entry` (with the
// message header filled in when the entries are whole messages).
MessageSpec read_entry(const YAML::Node &node, const Layout &entry, bool header,
                       ScenarioReader &reader);

// Where a field path ("count", "flows.0.src") lies in a layout.
struct FieldRef {
    size_t offset = 0;
    unsigned width = 0;
    FieldKind kind = FieldKind::U8;
};
std::optional<FieldRef> locate_field(const Layout &l, const std::string &path);

// A message of the layout with its header filled in and every field zero.
std::vector<uint8_t> blank_message(const Layout &l);

// A big-endian store of the low `width` bytes of v (1, 2, 4 or 8).
void store_be(uint8_t *dst, unsigned width, uint64_t v);
uint64_t load_be(const uint8_t *src, unsigned width);

// The 20-byte address value for "10.1.2.3" or "2001:db8::1"; false when the
// text is neither.
bool encode_address(std::string_view text, uint8_t out[20]);

} // namespace vorel::lab
