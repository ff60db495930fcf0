#include "vorel/vorel_files.h"

#include <cctype>
#include <cstring>
#include <fcntl.h>

bool vorel_is_safe_file_name(const char *name) {
    if (!name || !*name)
        return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    return std::strchr(name, '/') == nullptr;
}

std::string vorel_file_name_from(const char *name) {
    std::string s = name ? name : "";
    for (char &c : s)
        if (c == '/')
            c = '_';
    return s;
}

bool vorel_is_safe_package_name(const char *name) {
    if (!name || !*name)
        return false;
    for (const char *p = name; *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (!std::isalnum(c) && c != '.' && c != '_' && c != '-')
            return false;
    }
    return true;
}

int vorel_create_file(const std::string &path, int extra_flags, int mode) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | extra_flags,
                  mode);
}
