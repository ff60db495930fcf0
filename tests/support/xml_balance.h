// A minimal well-formedness check of the program's XML output, for the
// fuzz targets: tags balance and nest.
// Declarations, comments and empty elements are passed over.
#pragma once

#include <string>
#include <vector>

namespace vorel::testing {

// True when the tags of the text balance and nest; otherwise why says what
// is wrong.
inline bool xml_balanced(const std::string &s, std::string &why) {
    std::vector<std::string> stack;
    size_t i = 0;
    while ((i = s.find('<', i)) != std::string::npos) {
        size_t e = s.find('>', i);
        if (e == std::string::npos) {
            why = "unterminated tag";
            return false;
        }
        std::string tag = s.substr(i + 1, e - i - 1);
        i = e + 1;
        if (tag.empty() || tag[0] == '?' || tag[0] == '!' || tag.back() == '/')
            continue;
        bool closing = tag[0] == '/';
        std::string name = tag.substr(closing ? 1 : 0);
        name = name.substr(0, name.find_first_of(" \t\n"));
        if (!closing) {
            stack.push_back(name);
            continue;
        }
        if (stack.empty() || stack.back() != name) {
            why = "</" + name + "> does not close " +
                  (stack.empty() ? "anything" : "<" + stack.back() + ">");
            return false;
        }
        stack.pop_back();
    }
    if (!stack.empty()) {
        why = "<" + stack.back() + "> is never closed";
        return false;
    }
    return true;
}

} // namespace vorel::testing
