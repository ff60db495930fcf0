#include "vorel/vorel_getopt.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

int vorel_optind = 1;
int vorel_optopt = 0;
int vorel_opterr = 1;
int vorel_optreset = 0;
char *vorel_optarg = nullptr;

namespace {

// Position inside the current word when several letters share one ("-Xt").
const char *g_place = "";

const char *program_name(char *const argv[]) {
    const char *p = argv && argv[0] ? argv[0] : "vorel";
    const char *slash = std::strrchr(p, '/');
    return slash ? slash + 1 : p;
}

// main parses the command line, then the command's handler parses the
// same words again: a fault of one letter of the line is said once, not
// once per parse.  The letter's place in the argument vector names it.
void complain(char *const argv[], const char *letter_place, const char *what) {
    static std::set<std::pair<const char *, const char *>> said;
    if (!said.insert({letter_place, what}).second)
        return;
    std::fprintf(stderr, "%s: %s -- '%c'\n", program_name(argv), what, *letter_place);
}

} // namespace

void vorel_getopt_reset() {
    vorel_optreset = 1;
    vorel_optind = 1;
}

int vorel_getopt(int argc, char *const argv[], const char *optstring) {
    vorel_optarg = nullptr;
    if (vorel_optreset || !*g_place) {
        vorel_optreset = 0;
        g_place = "";
        if (vorel_optind < 1)
            vorel_optind = 1;
        if (vorel_optind >= argc || !argv[vorel_optind] || argv[vorel_optind][0] != '-' ||
            argv[vorel_optind][1] == '\0')
            return -1;
        if (std::strcmp(argv[vorel_optind], "--") == 0) {
            vorel_optind++;
            return -1;
        }
        g_place = argv[vorel_optind] + 1;
    }
    bool colon_mode = optstring[0] == ':';
    const char *letter_place = g_place;
    vorel_optopt = static_cast<unsigned char>(*g_place++);
    const char *letter_at = vorel_optopt == ':' ? nullptr : std::strchr(optstring, vorel_optopt);
    if (!letter_at) {
        if (!*g_place)
            vorel_optind++;
        if (vorel_opterr && !colon_mode)
            complain(argv, letter_place, "invalid option");
        return '?';
    }
    if (letter_at[1] != ':') {
        if (!*g_place)
            vorel_optind++;
        return vorel_optopt;
    }
    if (*g_place) {
        vorel_optarg = const_cast<char *>(g_place);
    } else if (vorel_optind + 1 < argc) {
        vorel_optarg = argv[++vorel_optind];
    } else {
        g_place = "";
        vorel_optind = argc;
        if (colon_mode)
            return ':';
        if (vorel_opterr)
            complain(argv, letter_place, "option requires an argument");
        return '?';
    }
    g_place = "";
    vorel_optind++;
    return vorel_optopt;
}

const char *vorel_getopt_next_word(int argc, char *const argv[]) {
    if (vorel_optind < 1 || vorel_optind >= argc || !argv[vorel_optind])
        return nullptr;
    return argv[vorel_optind++];
}
