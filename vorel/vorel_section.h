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

  private:
    const vorel_ctx *ctxt_;
    const char *element_;
    xml_attrs attrs_;
    std::function<void()> text_open_, text_close_;
    bool open_ = false;
};
