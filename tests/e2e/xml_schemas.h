// Validation of the program's XML output against its command family's
// RELAX NG schema (docs/schemas/): which schema checks which -C name and
// sub-command is read from docs/schemas/commands.txt, the one place that
// says so.
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
    // program's option parser reads it (-C NAME or -CNAME), and its -S
    // word (or -H, its other name; the handler reads it anywhere in the
    // vector); without one, "-A:ACTION" for a run that names its action,
    // else "-".
    static std::string command_of(const std::vector<std::string> &args);
    static std::string subcommand_of(const std::vector<std::string> &args);

    // Validates output (a sequence of top-level elements) against the
    // schema of the command and sub-command; false with every complaint in
    // why.  Output of a command and sub-command that commands.txt does not
    // map fails too: every XML the program writes has its schema.
    bool validate(const std::string &command, const std::string &subcommand,
                  const std::string &output, std::string &why);

    // How many outputs were validated against a schema.
    int validated() const { return validated_; }

  private:
    struct Compiled;
    int validated_ = 0;
    std::string dir_;
    // (command, sub-command, "-A:ACTION" or "*") -> schema file
    std::map<std::pair<std::string, std::string>, std::string> schema_of_;
    std::map<std::string, std::shared_ptr<Compiled>> compiled_;
};

// True when the output, a sequence of top-level elements, is well formed
// XML; otherwise why says what is wrong.
bool well_formed(const std::string &output, std::string &why);

// True when the output is meant as XML: its first character other than
// white space opens an element.
bool looks_like_xml(const std::string &output);

} // namespace vorel::testing
