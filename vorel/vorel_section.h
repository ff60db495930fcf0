// Sections of a command's output.
//
// An enclosing section spans a whole action: its open callback opens it
// (the command's root element in XML, a heading in text) and its close
// callback closes it.  A record section belongs to one PIC or one service
// set: it opens when its first record renders (or where the command's text
// says, by calling open() early) and closes when it goes out of scope, so
// no early return of a query can leave an element open.
#pragma once

#include "platform/xml.h"
#include "vorel/vorel_ctx.h"

#include <functional>

// The action-wide section: the trace line; in XML the root element
// (opened with attrs; closed and flushed); in text the heading, when there
// is one.
void vorel_open_enclosing(const vorel_ctx *ctxt, const char *trace, const char *element,
                          const char *heading, const xml_attrs &attrs = {});
void vorel_close_enclosing(const vorel_ctx *ctxt, const char *trace, const char *heading);

// An action's enclosing section as data: the traces of open and close, the
// root element and the text heading (null: none).
struct vorel_enclosing {
    const char *open_trace;
    const char *element;
    const char *heading;
    const char *close_trace;
};
// The open and close callbacks of an action made from its descriptor, for
// the action tables (any parameter block; the callbacks do not read it).
template <const vorel_enclosing &E, typename... Params>
int vorel_enclosing_open(vorel_ctx *ctxt, Params *...) {
    vorel_open_enclosing(ctxt, E.open_trace, E.element, E.heading);
    return 0;
}
template <const vorel_enclosing &E, typename... Params>
int vorel_enclosing_close(vorel_ctx *ctxt, Params *...) {
    vorel_close_enclosing(ctxt, E.close_trace, nullptr);
    return 0;
}

class vorel_section {
  public:
    // In XML the section is `element` (with attrs); in text what
    // on_text_open prints.
    vorel_section(const vorel_ctx *ctxt, const char *element, xml_attrs attrs = {})
        : ctxt_(ctxt), element_(element), attrs_(std::move(attrs)) {}
    ~vorel_section() { close(); }
    vorel_section(const vorel_section &) = delete;
    vorel_section &operator=(const vorel_section &) = delete;

    // What text mode prints when the section opens and when it closes.
    vorel_section &on_text_open(std::function<void()> f) {
        text_open_ = std::move(f);
        return *this;
    }
    vorel_section &on_text_close(std::function<void()> f) {
        text_close_ = std::move(f);
        return *this;
    }

    // Opens the section unless it is open.  True when this call opened it:
    // the caller then writes what leads the section (an interface name).
    bool open();
    bool is_open() const { return open_; }
    // Closes it if it was opened; later calls do nothing.
    void close();

  protected:
    bool xml() const { return ctxt_->xml != 0; }

  private:
    const vorel_ctx *ctxt_;
    const char *element_;
    xml_attrs attrs_;
    std::function<void()> text_open_, text_close_;
    bool open_ = false;
};

// The section of one service set's records on one PIC, as the families
// name it: in XML `element` leading with the interface-name and
// service-set-name leaves; in text the line "PIC: NAME, Service set: NAME \n"
// followed by text_after (a blank line, a column heading).  pic_shown is
// the PIC's name as the command shows it.
class vorel_svc_set_section : public vorel_section {
  public:
    vorel_svc_set_section(const vorel_ctx *ctxt, const char *element, const char *pic_shown,
                          const char *svc_set_name, const char *text_after = "",
                          xml_attrs attrs = {});
    // Opens it (with its leading leaves) unless it is open.
    bool open();

  private:
    const char *pic_shown_;
    const char *svc_set_name_;
};
