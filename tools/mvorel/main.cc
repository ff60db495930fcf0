// mvorel: runs a command on a service PIC and prints its output.
//
//   mvorel -c COMMAND [ARG...]
//   mvorel -c "COMMAND ARG..."     (one text: split at blanks, no shell)
//
// The PICs of this router offer one command: the package listing
// "pkg_info -i PIC" (also as /usr/sbin/pkg_info), which prints the names of
// the packages installed on PIC (ms-F/P/0), one per line.
//
// Exit status: 0 done; 1 the PIC is unknown or cannot be reached, or
// pkg_info was given other arguments; 2 usage; 127 the command is not
// available on the PIC.
#include "platform/chassis.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNotAvailable = 127;

std::vector<std::string> command_words(int argc, char **argv) {
    std::vector<std::string> words;
    if (argc == 3) {
        std::istringstream in(argv[2]);
        std::string w;
        while (in >> w)
            words.push_back(w);
    } else {
        for (int i = 2; i < argc; i++)
            words.push_back(argv[i]);
    }
    return words;
}

int pkg_info(const std::vector<std::string> &words) {
    if (words.size() != 3 || words[1] != "-i") {
        std::fprintf(stderr, "mvorel: pkg_info: usage: pkg_info -i PIC\n");
        return 1;
    }
    const std::string &pic = words[2];
    std::vector<std::string> names;
    int rc = chassis_pic_packages(pic.c_str(), names);
    if (rc == ENOENT) {
        std::fprintf(stderr, "mvorel: %s: no such PIC\n", pic.c_str());
        return 1;
    }
    if (rc) {
        std::fprintf(stderr, "mvorel: %s: cannot reach the PIC: %s\n", pic.c_str(),
                     std::strerror(rc));
        return 1;
    }
    for (const auto &n : names)
        std::printf("%s\n", n.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3 || std::strcmp(argv[1], "-c") != 0) {
        std::fprintf(stderr, "usage: mvorel -c COMMAND [ARG...]\n");
        return kExitUsage;
    }
    std::vector<std::string> words = command_words(argc, argv);
    if (words.empty()) {
        std::fprintf(stderr, "usage: mvorel -c COMMAND [ARG...]\n");
        return kExitUsage;
    }
    if (words[0] == "pkg_info" || words[0] == "/usr/sbin/pkg_info")
        return pkg_info(words);
    std::fprintf(stderr, "mvorel: %s: not available on this PIC\n", words[0].c_str());
    return kExitNotAvailable;
}
