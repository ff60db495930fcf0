// How agents answer from tables.
//
// A family's layout file says, once for every scenario, which tables its
// agents keep and which requests read or change them:
//
//   tables:
//     - name: fwnat_flows
//       entry: fwnat_flow_record        # a structure (or a layout: whole messages)
//       per: svc_set                    # or pic
//       key: {source: src, destination: dst, source_port: src_port,
//             destination_port: dst_port, protocol: proto}
//       serve:
//         - {request: fwnat_flow_dump_request, do: list, filter: flow_filter,
//            limit: limit, reply: fwnat_flow_dump_reply, entry_at: 24}
//         - {request: fwnat_flow_count_request, do: count, filter: flow_filter,
//            reply: fwnat_flow_count_reply, number: count}
//
// A scenario's agent then holds the entries (`tables:` of the agent), and a
// request that no rule answers is answered from them: list sends the
// entries the request's filter selects, in table order, at most `limit`;
// count sends how many match; clear removes them and sends how many it
// removed; zero zeroes a counters table (its entries read as zeros past
// their header until vorel-lab reset).
#pragma once

#include "lab/layouts.h"
#include "lab/tables.h"
#include "platform/bytes.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorel::lab {

// Where the answer goes: each call gives room for one frame of `kind`
// and `len` bytes, valid until the next call.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual uint8_t *frame(uint8_t kind, size_t len) = 0;
};

// A field of a request, a reply or an entry (offset 0 with width 0: absent).
struct FieldAt {
    bool present = false;
    size_t offset = 0;
    unsigned width = 0;
    uint64_t read(const uint8_t *base) const { return present ? load_be(base + offset, width) : 0; }
};

enum class TableOp { List, Count, Clear, Zero };
enum class FilterKind { None, Flow, Ranges };

struct TableForm;

// One request a table answers.
struct TableService {
    const TableForm *form = nullptr;
    uint16_t type = 0, version = 0;
    size_t request_size = 0;
    TableOp op = TableOp::List;
    FilterKind filter = FilterKind::None;
    // The flow filter block's fields in the request.
    FieldAt sprefix, smask, dprefix, dmask, sport, dport, proto, alg;
    // The NAT clears' ranges: first, last and given flag of each, the port.
    struct Range {
        FieldAt first, last, given;
    } subs_range, sw_range, nat_range;
    FieldAt subs_port, port_given;
    // clear: an entry field summed over the removed entries into a reply
    // field (the sessions the removed mappings held).
    FieldAt sum_of, sum_into;
    FieldAt limit;
    std::vector<uint8_t> reply; // the reply's template (empty: the entry is the message)
    size_t entry_at = 0;        // list: where each entry goes in its reply
    FieldAt number;             // count, clear: the reply's number field
    // count: further reply fields that count the selected entries whose
    // entry field `count_by` holds a value (the tunnels of each kind).
    FieldAt count_by;
    std::vector<std::pair<uint64_t, FieldAt>> counts;
    bool parts = false;   // list: entries go as large-object parts, then an object end
    size_t per_reply = 1; // list: entries side by side in one reply, `number` counting them
    unsigned copies = 1;  // count, clear, zero: the reply is sent this many times
    // clear, zero: a request of service set 0 reaches every service set's
    // table of the agent (the clear of a whole PIC).
    bool whole_pic = false;
    // zero, clear: other tables that the same request resets or clears (one
    // request read by two reply layouts; a clear of every kind of mapping).
    std::vector<const TableForm *> also;
    // Request fields that must hold these values (a show and a clear that
    // share a type differ by a field); none: every request of the type.
    std::vector<std::pair<FieldAt, uint64_t>> when;
    // Selectors that compare a request field with an entry field byte for
    // byte; an all-zero request field selects every entry.
    std::vector<std::pair<FieldAt, FieldAt>> equal;
    // Selectors that compare a request number with an entry number, zero
    // included (the statistics of application 0 are those of all).
    std::vector<std::pair<FieldAt, FieldAt>> same;
    // Request fields that every message of the answer repeats (a reply that
    // echoes what was asked for), with where they go in the message.
    std::vector<std::pair<FieldAt, FieldAt>> echo;
    int line = 0;
};

struct TableForm {
    std::string name;
    Layout entry;
    bool entry_is_message = false; // entries are whole messages (header included)
    bool per_svc_set = true;
    // What a zeroing leaves as it was: the fields that name an entry, or
    // hold its settings, rather than count.
    std::vector<FieldAt> keep;
    // Entries that are a message and the messages that follow it (a
    // session and its flows): the entry holds the first message, then room
    // for `follow_room` followers side by side; its `follow_count` field
    // says how many are sent after it.
    size_t main_size = 0;
    Layout follower;
    std::vector<uint8_t> follower_header; // its type, version and length
    size_t follow_room = 0;
    FieldAt follow_count;
    // The fields a filter selects on (addr fields: the IPv6 flag at +16).
    FieldAt source, destination, source_port, destination_port, protocol, application;
    // The NAT clears' keys: the softwire (B4) address and the translated
    // address (the destination field when the form names none).
    FieldAt softwire, translated;
};

// An agent's table: a form's entries for one service set (or the PIC).
struct AgentTable {
    const TableForm *form = nullptr;
    std::optional<uint16_t> svc_set_id;
    Table table;
    // The entries of a counters table that a clear zeroed (by index).
    RemovedSet zeroed;
    AgentTable(const TableForm *f, size_t entry_size) : form(f), table(entry_size) {}
    void reset() {
        table.reset();
        zeroed.clear();
    }
};

class TableForms {
  public:
    // Adds the forms of a `tables:` list (a layout file's or a scenario's).
    void add(const YAML::Node &list, const LayoutSet &layouts, ScenarioReader &r);
    const TableForm *find(const std::string &name) const;
    // The first service that fits the request (its type and version, then
    // its `when`) and reads a table the agent keeps; null: no table answers.
    // (Two families may read one request type, each from its own table.)
    const TableService *service_for(const ByteReader &request,
                                    const std::vector<std::unique_ptr<AgentTable>> &tables) const;

  private:
    void add_service(const YAML::Node &n, const TableForm &form, const LayoutSet &layouts,
                     ScenarioReader &r);
    static void add_follow(const YAML::Node &follow, TableForm &form, const LayoutSet &layouts,
                           ScenarioReader &r);
    void add_also(const YAML::Node &also, TableService &s, ScenarioReader &r) const;
    static void add_count_by(const YAML::Node &by, const TableForm &form, const Layout *reply,
                             TableService &s, ScenarioReader &r);
    std::vector<std::unique_ptr<TableForm>> forms_;
    std::vector<TableService> services_;
};

// Reads an agent's `tables:` list into `out`.
void load_agent_tables(const YAML::Node &list, const TableForms &forms, ScenarioReader &r,
                       std::vector<std::unique_ptr<AgentTable>> &out);

// Answers the request from the agent's tables; false when the agent keeps
// no table of the service's form (the request is not the tables' to answer).
bool answer_from_tables(const TableService &service,
                        std::vector<std::unique_ptr<AgentTable>> &tables, const ByteReader &request,
                        FrameSink &out);

} // namespace vorel::lab
