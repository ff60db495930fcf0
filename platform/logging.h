// System log events.
//
// logging_event(priority, tag, argument names, format, ...): the formatted
// message (which begins with the tag and a colon by convention) goes to the
// system log under the ident "vorel" at the given priority (3 error,
// 4 warning).  The argument names label the values the format carries.
//
// When $VOREL_LOG_FILE names a file, the event is also appended to it as
// one line, so that tests can read events back:
//
//   <3> VOREL_CONNECT_ERROR [pointer-addr] VOREL_CONNECT_ERROR: asp_conn is NULL[(nil)]
//
// priority in angle brackets, the tag, the argument names in brackets
// (comma-separated, "[]" when none), then the message.  A trailing newline
// of the message is dropped and inner newlines are written as the two
// characters "\n", so every event is one line.  Messages are cut at
// LOGGING_MAX_MESSAGE - 1 bytes.
#pragma once

#include <cstddef>
#include <initializer_list>

constexpr size_t LOGGING_MAX_MESSAGE = 2048;

void logging_event(int priority, const char *tag, std::initializer_list<const char *> arg_names,
                   const char *fmt, ...) __attribute__((format(printf, 4, 5)));
