#include "platform/logging.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <syslog.h>
#include <unistd.h>

namespace {

void open_system_log() {
    static bool opened = false;
    if (!opened) {
        openlog("vorel", LOG_PID, LOG_USER);
        opened = true;
    }
}

// The event as one line of the log file.
std::string file_line(int priority, const char *tag, std::initializer_list<const char *> names,
                      const char *message) {
    std::string line = "<" + std::to_string(priority) + "> " + (tag ? tag : "") + " [";
    bool first = true;
    for (const char *n : names) {
        if (!first)
            line += ',';
        line += n ? n : "";
        first = false;
    }
    line += "] ";
    std::string msg = message;
    if (!msg.empty() && msg.back() == '\n')
        msg.pop_back();
    for (char ch : msg) {
        if (ch == '\n')
            line += "\\n";
        else
            line += ch;
    }
    line += '\n';
    return line;
}

// One write with O_APPEND, so that lines of several processes never mix.
void append_to_file(const char *path, const std::string &line) {
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t n = ::write(fd, line.data(), line.size());
    (void)n; // a log that cannot be written is not the command's failure
    ::close(fd);
}

} // namespace

void logging_event(int priority, const char *tag, std::initializer_list<const char *> arg_names,
                   const char *fmt, ...) {
    char message[LOGGING_MAX_MESSAGE];
    va_list ap;
    va_start(ap, fmt);
    int n = fmt ? std::vsnprintf(message, sizeof message, fmt, ap) : 0;
    va_end(ap);
    if (n < 0 || !fmt)
        message[0] = '\0';
    open_system_log();
    syslog(priority, "%s", message);
    const char *file = std::getenv("VOREL_LOG_FILE");
    if (file && *file)
        append_to_file(file, file_line(priority, tag, arg_names, message));
}
