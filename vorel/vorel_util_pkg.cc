// The package check: asks a PIC, through the sibling command, whether a
// package is installed on it.
#include "platform/logging.h"
#include "platform/tools.h"
#include "vorel/vorel_files.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_util.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <syslog.h>

namespace {

// The answer line of the check holds at most 79 characters, and so must the
// command that asks it.
constexpr size_t kAnswerLineLimit = 79;
constexpr size_t kListingLimit = 64 * 1024;

int refuse(const char *name) {
    logging_event(LOG_ERR, "VOREL_PKG_ERROR", {"name"}, "VOREL_PKG_ERROR: pkg_name [%s]\n",
                  vorel_str_or_null(name));
    return 0;
}

bool lists_package(const std::string &listing, const char *name) {
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line))
        if (line == name)
            return true;
    return false;
}

} // namespace

int vorel_util_is_pkg_installed(unsigned fpc, unsigned pic, const char *pkg_name) {
    if (!pkg_name || !vorel_is_safe_package_name(pkg_name))
        return refuse(pkg_name);
    char command[1024];
    int n = std::snprintf(command, sizeof command,
                          "/usr/sbin/mvorel -c /usr/sbin/pkg_info -i ms-%d/%d/0 | grep '%s'",
                          static_cast<int>(fpc), static_cast<int>(pic), pkg_name);
    if (n < 0 || static_cast<size_t>(n) >= kAnswerLineLimit)
        return refuse(pkg_name);
    // The same question without a shell: the PIC's package list, matched
    // on whole names.
    std::string pic_name = "ms-" + std::to_string(fpc) + "/" + std::to_string(pic) + "/0";
    vorel::ProgramResult r;
    if (!vorel::run_program({vorel::mvorel_path(), "-c", "/usr/sbin/pkg_info", "-i", pic_name},
                            kListingLimit, r) ||
        r.status != 0)
        return refuse(pkg_name);
    return lists_package(r.output, pkg_name) ? 1 : 0;
}
