// The program's error routing and process-wide flags.
#pragma once

#include <cstdarg>

// Process-wide state: xml_mode is read only by the error routines (the
// renderers read the command context's xml); debug switches trace lines on.
extern int xml_mode;
extern int debug;
extern const char *prog_name;

// Reports an error the user sees: an XML error element in XML mode, the
// formatted text verbatim on standard output otherwise.  The message is
// formatted into 1024 bytes (longer text is cut).  level is not used.
int vorel_xml_error(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Reports and exits with status.  In XML mode: the error element, every
// open element closed, exit.  Otherwise "NAME: message\n" on standard error
// with the program's base name.  Also the Services UI open callback (which
// calls it with level 1, so the run then ends with status 1).
[[noreturn]] int vorel_fatal_error(int status, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Every deliberate exit of a command goes through here, so that a caller
// that runs commands in-process (the fuzz targets) can take it as the
// command's end rather than the process's.
[[noreturn]] void vorel_exit(int status);

// Replaces what vorel_exit does (std::exit when none is set).  The hook must
// not return: it exits or throws; if it does return, std::exit follows.
using vorel_exit_fn = void (*)(int status);
void vorel_set_exit_hook(vorel_exit_fn hook);

// Later errors go to standard output as text.
void vorel_disable_xml();

// A plain-text message that the command prints on standard output (usage
// lines, "doesn't know what to do" lines): verbatim in text mode, as an
// error element with the same text in XML mode.
void vorel_user_message(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// A failure that would otherwise pass silently: one line "vorel: ..." on
// standard error (standard output is left as it is).
void vorel_note_failure(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// A view that exists only in XML, run in text mode: one line on standard
// error says so ("vorel: VIEW is shown only in XML; run it with -X").  True
// when the output is XML.  Standard output stays as the view leaves it.
struct vorel_ctx;
bool vorel_xml_only_view(const vorel_ctx *ctxt, const char *view);

// A debug trace line on standard output, only when debug is on.
void vorel_trace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The base name of the program, for messages.
const char *vorel_prog_basename();
