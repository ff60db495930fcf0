#include "vorel/vorel_error.h"

#include "vorel/vorel_ctx.h"

#include "platform/xml.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int xml_mode = 0;
int debug = 0;
const char *prog_name = "vorel";

namespace {

vorel_exit_fn exit_hook = nullptr;

constexpr size_t kMessageSize = 1024;

void format_message(char (&buf)[kMessageSize], const char *fmt, va_list ap) {
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    if (n < 0)
        buf[0] = '\0';
}

// Writes the message as formatted: it is never used as a format again, so
// "%" characters in it are printed as they are.
void emit(const char *msg) {
    if (xml_mode)
        xml_error(vorel_prog_basename(), msg);
    else
        std::fputs(msg, stdout);
}

} // namespace

const char *vorel_prog_basename() {
    const char *p = prog_name ? prog_name : "vorel";
    const char *slash = std::strrchr(p, '/');
    return slash ? slash + 1 : p;
}

int vorel_xml_error(int, const char *fmt, ...) {
    char buf[kMessageSize];
    va_list ap;
    va_start(ap, fmt);
    format_message(buf, fmt, ap);
    va_end(ap);
    emit(buf);
    return 0;
}

int vorel_fatal_error(int status, const char *fmt, ...) {
    char buf[kMessageSize];
    va_list ap;
    va_start(ap, fmt);
    format_message(buf, fmt, ap);
    va_end(ap);
    if (xml_mode) {
        xml_error(vorel_prog_basename(), buf);
        xml_subtree_unwind();
    } else {
        // One newline ends the line, also when the message brings its own.
        size_t len = std::strlen(buf);
        const char *end = len && buf[len - 1] == '\n' ? "" : "\n";
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s%s", vorel_prog_basename(), buf, end);
    }
    vorel_exit(status);
}

void vorel_exit(int status) {
    if (exit_hook)
        exit_hook(status);
    std::exit(status);
}

void vorel_set_exit_hook(vorel_exit_fn hook) {
    exit_hook = hook;
}

void vorel_disable_xml() {
    xml_mode = 0;
}

void vorel_user_message(const char *fmt, ...) {
    char buf[kMessageSize];
    va_list ap;
    va_start(ap, fmt);
    format_message(buf, fmt, ap);
    va_end(ap);
    emit(buf);
}

void vorel_note_failure(const char *fmt, ...) {
    char buf[kMessageSize];
    va_list ap;
    va_start(ap, fmt);
    format_message(buf, fmt, ap);
    va_end(ap);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", vorel_prog_basename(), buf);
}

void vorel_trace(const char *fmt, ...) {
    if (!debug)
        return;
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
}

bool vorel_xml_only_view(const vorel_ctx *ctxt, const char *view) {
    if (ctxt->xml)
        return true;
    vorel_note_failure("%s is shown only in XML; run it with -X", view);
    return false;
}
