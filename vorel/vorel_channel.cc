#include "vorel/vorel_channel.h"

#include "platform/rtslib.h"
#include "vorel/vorel_error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

namespace {

constexpr services_ui_timer kPacedTimer{5, 5, 60};
constexpr services_ui_timer kLibraryTimer{0, 0, 0};

bool pic_answers_at_its_own_pace(uint16_t pic_id) {
    return pic_id != 0 && (pic_id < 2644 || pic_id > 2648);
}

// One kernel handle for the PIC queries of the whole run, closed at exit
// (a handle per PIC would leave a connection open per PIC visited).
rtslib_handle *pic_query_handle() {
    static rtslib_handle *h = [] {
        rtslib_handle *opened = rtslib_open(2);
        if (opened)
            std::atexit([] { rtslib_close(pic_query_handle()); });
        return opened;
    }();
    return h;
}

} // namespace

vorel::ByteWriter vorel_request(uint16_t type, uint16_t version, size_t size, uint16_t svc_set_id) {
    vorel::ByteWriter w(size);
    w.be16(0, type);
    w.be16(2, version);
    w.be16(4, static_cast<uint16_t>(size / 4));
    w.be16(6, svc_set_id);
    return w;
}

services_ui_msg_hdr vorel_reply_header(const vorel::ByteReader &r) {
    services_ui_msg_hdr h;
    if (!r.has(0, SERVICES_UI_MSG_HDR_LEN))
        return h;
    h.msg_type = r.be16(0);
    h.msg_version = r.be16(2);
    h.msg_len = r.be16(4);
    h.svc_set_id = r.be16(6);
    return h;
}

services_ui_timer vorel_ipc_timer(unsigned fpc, unsigned pic) {
    rtslib_handle *h = pic_query_handle();
    if (!h)
        return kLibraryTimer;
    rtslib_pic_record *rec = nullptr;
    size_t len = 0;
    int rc = rtslib_pic_get(h, static_cast<uint16_t>(fpc), static_cast<uint16_t>(pic),
                            RTSLIB_OP_GET, &rec, &len);
    if (rc != 0 || !rec || !(rec->flags & 1)) {
        if (rec)
            rtslib_msg_idl_release(h, rec);
        return kPacedTimer;
    }
    uint16_t id = rec->pic_id;
    rtslib_msg_idl_release(h, rec);
    return pic_answers_at_its_own_pace(id) ? kLibraryTimer : kPacedTimer;
}

services_ui_conn *vorel_services_ui_open(unsigned fpc, unsigned pic, uint16_t port,
                                         services_ui_error_cb err) {
    services_ui_timer t = vorel_ipc_timer(fpc, pic);
    return services_ui_open_timeout(fpc, pic, port, err, &t);
}

namespace {

// What the latest request on a channel got so far.  A PIC that leaves a
// request without a usable reply is passed over (nothing is rendered for
// it, the walk goes on), and standard error says so once per PIC and
// request type, so that a broken PIC does not look like an empty table.
struct request_outcome {
    std::string pic; // the walk's name for the PIC; empty: the channel's peer
    uint16_t type = 0;
    bool sent = false, usable = false;
    size_t short_size = 0, wanted = 0; // the last reply too short for its record
};
std::map<const services_ui_conn *, request_outcome> outcomes;

// Why the latest request got nothing usable; empty when the PIC ended its
// answer without replies (an empty table, unless the caller says otherwise).
std::string why_unanswered(const services_ui_conn *c, const request_outcome &o) {
    if (o.wanted)
        return "its reply was " + std::to_string(o.short_size) + " bytes, shorter than " +
               std::to_string(o.wanted);
    if (services_ui_other_type_replies(c))
        return "it answered with a reply of another type";
    switch (services_ui_last_error(c)) {
    case ETIMEDOUT:
        return "no answer came in time";
    case EPIPE:
    case EPROTO:
        return "the channel closed before a reply";
    default:
        return {};
    }
}

} // namespace

void vorel_channel_names(const services_ui_conn *c, const char *pic_name) {
    if (c)
        outcomes[c].pic = pic_name ? pic_name : "";
}

void vorel_channel_forget(const services_ui_conn *c) {
    outcomes.erase(c);
}

void vorel_note_unanswered(services_ui_conn *c, const char *who, bool answer_required) {
    auto it = outcomes.find(c);
    if (it == outcomes.end() || !it->second.sent || (it->second.usable && !answer_required))
        return;
    const request_outcome &o = it->second;
    std::string why = why_unanswered(c, o);
    if (why.empty()) {
        if (!answer_required)
            return; // an empty table
        why = o.usable ? "it ended its answer early" : "it ended its answer without a reply";
    }
    std::string pic = !o.pic.empty() ? o.pic : who ? who : services_ui_peer(c);
    static std::set<std::string> said;
    if (!said.insert(pic + ' ' + std::to_string(o.type)).second)
        return;
    if (o.usable)
        vorel_note_failure("%s: request %u got no complete answer (%s)",
                           pic.c_str(), unsigned{o.type}, why.c_str());
    else
        vorel_note_failure("%s: request %u got no usable reply (%s)",
                           pic.c_str(), unsigned{o.type}, why.c_str());
}

int vorel_send(services_ui_conn *c, const vorel::ByteWriter &req) {
    if (services_ui_send(c, req.data(), req.size()) == 0) {
        request_outcome &o = outcomes[c];
        o = request_outcome{o.pic, vorel::ByteReader(req.data(), req.size()).be16(0), true};
        return 0;
    }
    // The queries give up on a failed send without a word of their own.
    int why = errno;
    vorel::ByteReader r(req.data(), req.size());
    vorel_note_failure("cannot send request %u to %s: %s", unsigned{r.be16(0)}, services_ui_peer(c),
                       std::strerror(why));
    return -1;
}

vorel::ByteReader vorel_receive(services_ui_conn *c, uint16_t type, uint16_t version) {
    services_ui_reply r = services_ui_receive(c, type, version);
    if (!r) {
        vorel_note_unanswered(c, nullptr);
        return vorel::ByteReader();
    }
    if (auto it = outcomes.find(c); it != outcomes.end())
        it->second.usable = true;
    return vorel::ByteReader(r.data, r.size);
}

vorel::ByteReader vorel_receive_at_least(services_ui_conn *c, uint16_t type, uint16_t version,
                                         size_t min_size, const char *who, short_reply on_short,
                                         bool *came_short) {
    if (came_short)
        *came_short = false;
    for (;;) {
        services_ui_reply r = services_ui_receive(c, type, version);
        auto it = outcomes.find(c);
        if (!r) {
            vorel_note_unanswered(c, who);
            return vorel::ByteReader();
        }
        if (r.size >= min_size && r.size > 0) {
            if (it != outcomes.end())
                it->second.usable = true;
            return vorel::ByteReader(r.data, r.size);
        }
        vorel_trace("vorel: %s: reply %u is %zu bytes, shorter than %zu; ignored\n",
                    who ? who : "?", unsigned{type}, r.size, min_size);
        if (it != outcomes.end()) {
            it->second.short_size = r.size;
            it->second.wanted = min_size;
        }
        if (on_short == short_reply::end_answer) {
            if (came_short)
                *came_short = true;
            vorel_note_unanswered(c, who);
            return vorel::ByteReader();
        }
    }
}
