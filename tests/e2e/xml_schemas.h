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
    // word ("-" without one; the handler reads -S anywhere in the vector).
    static std::string command_of(const std::vector<std::string> &args);
    static std::string subcommand_of(const std::vector<std::string> &args);

    // Validates output (a sequence of top-level elements) against the
    // schema of the command and sub-command; false with every complaint in
    // why.  What has no schema passes unchecked.
    bool validate(const std::string &command, const std::string &subcommand,
                  const std::string &output, std::string &why);

    // How many outputs were validated against a schema, and how many were
    // passed unchecked for want of one.
    int validated() const { return validated_; }
    int unchecked() const { return unchecked_; }

  private:
    struct Compiled;
    int validated_ = 0, unchecked_ = 0;
    std::string dir_;
    // (command, sub-command or "*") -> schema file
    std::map<std::pair<std::string, std::string>, std::string> schema_of_;
    std::map<std::string, std::shared_ptr<Compiled>> compiled_;
};

// True when the output is meant as XML: its first character other than
// white space opens an element.
bool looks_like_xml(const std::string &output);

} // namespace vorel::testing
