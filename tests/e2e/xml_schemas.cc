#include "tests/e2e/xml_schemas.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <libxml/parser.h>
#include <libxml/relaxng.h>
#include <sstream>

namespace vorel::testing {

namespace {

// libxml2 reports through callbacks; the complaints are gathered here.
void collect(void *ctx, const char *fmt, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    static_cast<std::string *>(ctx)->append(line);
}

// A validation complaint with the line of the output it is about (libxml2
// passes the error as const from 2.12 on, as non-const before).
template <class Error> void collect_structured(void *ctx, Error *e) {
    std::string &why = *static_cast<std::string *>(ctx);
    why += "line " + std::to_string(e->line) + ": " + (e->message ? e->message : "?\n");
}

// The output (a sequence of elements) read as one document under a
// wrapper; null, with why set, when it is not well formed.
xmlDocPtr read_output(const std::string &output, std::string &why) {
    std::string doc_text = "<vorel-output>" + output + "</vorel-output>";
    xmlDocPtr doc =
        xmlReadMemory(doc_text.data(), static_cast<int>(doc_text.size()), "output", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) {
        const xmlError *e = xmlGetLastError();
        why = std::string("not well formed: ") + (e && e->message ? e->message : "?");
    }
    return doc;
}

} // namespace

struct XmlSchemas::Compiled {
    xmlRelaxNGPtr schema = nullptr;
    std::string problem; // why it did not compile
    ~Compiled() {
        if (schema)
            xmlRelaxNGFree(schema);
    }
};

bool XmlSchemas::load(const std::string &dir, std::string &why) {
    dir_ = dir;
    std::ifstream in(dir + "/commands.txt");
    if (!in) {
        why = "cannot read " + dir + "/commands.txt";
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string command, subcommand, schema;
        if (!(words >> command) || command[0] == '#')
            continue;
        if (!(words >> subcommand >> schema)) {
            why = dir + "/commands.txt: a line is COMMAND SUBCOMMAND SCHEMA: " + line;
            return false;
        }
        schema_of_[{command, subcommand}] = schema;
    }
    return true;
}

std::string XmlSchemas::command_of(const std::vector<std::string> &args) {
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        if (a == "--" || a.empty() || a[0] != '-')
            break; // the program's parser stops here too
        if (a == "-C")
            return i + 1 < args.size() ? args[i + 1] : "-";
        if (a.compare(0, 2, "-C") == 0)
            return a.substr(2);
    }
    return "-";
}

std::string XmlSchemas::subcommand_of(const std::vector<std::string> &args) {
    std::string action;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        if (a.size() < 2 || a[0] != '-' || (a[1] != 'S' && a[1] != 'H' && a[1] != 'A'))
            continue;
        // -H is the firewall/NAT and FIPS handlers' other name for -S.
        std::string word = a.size() > 2 ? a.substr(2) : i + 1 < args.size() ? args[i + 1] : "";
        if (a[1] != 'A')
            return word.empty() ? "-" : word;
        if (action.empty())
            action = "-A:" + word;
    }
    return action.empty() ? "-" : action;
}

bool XmlSchemas::validate(const std::string &command, const std::string &subcommand,
                          const std::string &output, std::string &why) {
    auto at = schema_of_.find({command, subcommand});
    if (at == schema_of_.end())
        at = schema_of_.find({command, "*"});
    if (at == schema_of_.end()) {
        why =
            "no schema for -C " + command + " -S " + subcommand + " in " + dir_ + "/commands.txt\n";
        return false;
    }
    validated_++;
    std::shared_ptr<Compiled> &c = compiled_[at->second];
    if (!c) {
        c = std::make_shared<Compiled>();
        std::string path = dir_ + "/" + at->second;
        xmlRelaxNGParserCtxtPtr pc = xmlRelaxNGNewParserCtxt(path.c_str());
        xmlRelaxNGSetParserErrors(pc, collect, collect, &c->problem);
        c->schema = xmlRelaxNGParse(pc);
        xmlRelaxNGFreeParserCtxt(pc);
        if (!c->schema)
            c->problem = path + " does not compile: " + c->problem;
    }
    if (!c->schema) {
        why = c->problem;
        return false;
    }
    xmlDocPtr doc = read_output(output, why);
    if (!doc)
        return false;
    xmlRelaxNGValidCtxtPtr vc = xmlRelaxNGNewValidCtxt(c->schema);
    xmlRelaxNGSetValidStructuredErrors(vc, collect_structured, &why);
    int rc = xmlRelaxNGValidateDoc(vc, doc);
    xmlRelaxNGFreeValidCtxt(vc);
    xmlFreeDoc(doc);
    if (rc != 0 && why.empty())
        why = "does not match " + at->second;
    return rc == 0;
}

bool well_formed(const std::string &output, std::string &why) {
    xmlDocPtr doc = read_output(output, why);
    xmlFreeDoc(doc);
    return doc != nullptr;
}

bool looks_like_xml(const std::string &output) {
    size_t first = output.find_first_not_of(" \t\r\n");
    return first != std::string::npos && output[first] == '<';
}

} // namespace vorel::testing
