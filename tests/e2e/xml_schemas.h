// Validation of the program's XML output against its command family's
// RELAX NG schema (docs/schemas/): which schema belongs to which -C name is
// read from docs/schemas/commands.txt, the one place that says so.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vorel::testing {

class XmlSchemas {
  public:
    // dir holds commands.txt and the schema files; false (why set) when
    // the mapping cannot be read.
    bool load(const std::string &dir, std::string &why);

    // The -C name an argument vector selects ("-" without -C), as the
    // program's option parser reads it (-C NAME or -CNAME).
    static std::string command_of(const std::vector<std::string> &args);

    // True when the command has a schema.
    bool covers(const std::string &command) const { return schema_of_.count(command) != 0; }

    // Validates output (a sequence of top-level elements) against the
    // command's schema; false with every complaint in why.  A command
    // without a schema passes.
    bool validate(const std::string &command, const std::string &output, std::string &why);

  private:
    struct Compiled;
    std::string dir_;
    std::map<std::string, std::string> schema_of_;
    std::map<std::string, std::shared_ptr<Compiled>> compiled_;
};

// True when the output is meant as XML: its first character other than
// white space opens an element.
bool looks_like_xml(const std::string &output);

} // namespace vorel::testing
