#include "vorel/vorel_section.h"

#include "vorel/vorel_error.h"

#include <cstdio>

void vorel_open_enclosing(const vorel_ctx *ctxt, const char *trace, const char *element,
                          const char *heading, const xml_attrs &attrs) {
    if (trace)
        vorel_trace("%s", trace);
    if (ctxt->xml)
        xml_subtree_open(element, attrs);
    else if (heading)
        std::fputs(heading, stdout);
}

void vorel_close_enclosing(const vorel_ctx *ctxt, const char *trace, const char *heading) {
    if (trace)
        vorel_trace("%s", trace);
    if (ctxt->xml) {
        xml_subtree_close();
        xml_subtree_once();
    } else if (heading) {
        std::fputs(heading, stdout);
    }
}

bool vorel_section::open() {
    if (open_)
        return false;
    open_ = true;
    if (ctxt_->xml)
        xml_send_open(element_, attrs_);
    else if (text_open_)
        text_open_();
    return true;
}

void vorel_section::close() {
    if (!open_)
        return;
    open_ = false;
    if (ctxt_->xml)
        xml_send_close(element_);
    else if (text_close_)
        text_close_();
}
