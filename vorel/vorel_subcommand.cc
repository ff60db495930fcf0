#include "vorel/vorel_subcommand.h"

#include "vorel/vorel_error.h"
#include "vorel/vorel_string.h"

int vorel_note_no_action(const char *family, const std::optional<std::string> &command,
                         const std::optional<std::string> &subcommand) {
    vorel_note_failure("%s: no action for command %s, subcommand %s", family,
                       vorel_str_or_null(vorel_text(command)),
                       vorel_str_or_null(vorel_text(subcommand)));
    return -1;
}
