#include "lab/scenario.h"

#include "platform/bytes.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace vorel::lab {

void ScenarioReader::error_at(int line, int column, const std::string &what) {
    std::ostringstream s;
    s << file_;
    if (line >= 0)
        s << ':' << line + 1 << ':' << column + 1;
    s << ": " << what;
    errors_.push_back(s.str());
}

void ScenarioReader::error(const YAML::Node &node, const std::string &what) {
    YAML::Mark m = node.Mark();
    error_at(m.is_null() ? -1 : m.line, m.column, what);
}

static bool parse_unsigned(const std::string &s, uint64_t &out) {
    if (s.empty() || s[0] == '-' || s[0] == '+')
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno || *end)
        return false;
    out = v;
    return true;
}

std::optional<uint64_t> ScenarioReader::as_number(const YAML::Node &node, uint64_t max) {
    uint64_t v;
    if (!node.IsScalar() || !parse_unsigned(node.Scalar(), v)) {
        error(node, "expected a number, found '" +
                        (node.IsScalar() ? node.Scalar() : "(not a scalar)") + "'");
        return std::nullopt;
    }
    if (v > max) {
        error(node, "number " + node.Scalar() + " is larger than " + std::to_string(max));
        return std::nullopt;
    }
    return v;
}

std::optional<int64_t> ScenarioReader::as_signed(const YAML::Node &node, int64_t min, int64_t max) {
    if (!node.IsScalar()) {
        error(node, "expected a number");
        return std::nullopt;
    }
    const std::string &s = node.Scalar();
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 0);
    if (s.empty() || errno || *end) {
        error(node, "expected a number, found '" + s + "'");
        return std::nullopt;
    }
    if (v < min || v > max) {
        error(node,
              "number " + s + " is outside " + std::to_string(min) + ".." + std::to_string(max));
        return std::nullopt;
    }
    return v;
}

std::optional<uint64_t> ScenarioReader::number(const YAML::Node &map, const char *key, uint64_t max,
                                               bool required) {
    YAML::Node n = map[key];
    if (!n) {
        if (required)
            error(map, std::string("missing field '") + key + "'");
        return std::nullopt;
    }
    return as_number(n, max);
}

uint64_t ScenarioReader::number_or(const YAML::Node &map, const char *key, uint64_t dflt,
                                   uint64_t max) {
    return number(map, key, max).value_or(dflt);
}

std::optional<int64_t> ScenarioReader::signed_number(const YAML::Node &map, const char *key,
                                                     int64_t min, int64_t max, bool required) {
    YAML::Node n = map[key];
    if (!n) {
        if (required)
            error(map, std::string("missing field '") + key + "'");
        return std::nullopt;
    }
    return as_signed(n, min, max);
}

std::optional<std::string> ScenarioReader::text(const YAML::Node &map, const char *key,
                                                bool required) {
    YAML::Node n = map[key];
    if (!n) {
        if (required)
            error(map, std::string("missing field '") + key + "'");
        return std::nullopt;
    }
    if (!n.IsScalar()) {
        error(n, std::string("field '") + key + "' must be a text");
        return std::nullopt;
    }
    return n.Scalar();
}

std::string ScenarioReader::text_or(const YAML::Node &map, const char *key,
                                    const std::string &dflt) {
    return text(map, key).value_or(dflt);
}

bool ScenarioReader::flag_or(const YAML::Node &map, const char *key, bool dflt) {
    YAML::Node n = map[key];
    if (!n)
        return dflt;
    if (n.IsScalar()) {
        const std::string &s = n.Scalar();
        if (s == "true" || s == "yes" || s == "on" || s == "1")
            return true;
        if (s == "false" || s == "no" || s == "off" || s == "0")
            return false;
    }
    error(n, std::string("field '") + key + "' must be true or false");
    return dflt;
}

std::optional<std::vector<uint8_t>> ScenarioReader::bytes(const YAML::Node &node) {
    std::vector<uint8_t> out;
    if (node.IsScalar()) {
        if (!from_hex(node.Scalar(), out)) {
            error(node, "expected hex bytes such as '00 1f a0'");
            return std::nullopt;
        }
        return out;
    }
    if (node.IsSequence()) {
        for (const auto &b : node) {
            auto v = as_number(b, 255);
            if (!v)
                return std::nullopt;
            out.push_back(static_cast<uint8_t>(*v));
        }
        return out;
    }
    error(node, "expected bytes (a hex text or a list of numbers)");
    return std::nullopt;
}

void ScenarioReader::only_keys(const YAML::Node &map, std::initializer_list<const char *> allowed) {
    if (!map.IsMap())
        return;
    for (const auto &kv : map) {
        const std::string &k = kv.first.Scalar();
        bool ok = false;
        for (const char *a : allowed)
            ok = ok || k == a;
        if (!ok)
            error(kv.first, "unknown field '" + k + "'");
    }
}

YAML::Node load_yaml_file(ScenarioReader &reader) {
    // Only a regular file of bounded size is read: an include pattern that
    // names a device or a pipe must not hang the lab or fill its memory.
    struct stat st;
    if (::stat(reader.file().c_str(), &st) != 0) {
        reader.error_at(-1, 0, "cannot open: " + std::string(std::strerror(errno)));
        return YAML::Node();
    }
    if (!S_ISREG(st.st_mode)) {
        reader.error_at(-1, 0, "not a regular file");
        return YAML::Node();
    }
    std::ifstream in(reader.file(), std::ios::binary);
    if (!in) {
        reader.error_at(-1, 0, "cannot open: " + std::string(std::strerror(errno)));
        return YAML::Node();
    }
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxScenarioBytes) {
            reader.error_at(-1, 0, "larger than " + std::to_string(kMaxScenarioBytes) + " bytes");
            return YAML::Node();
        }
    }
    try {
        return YAML::Load(text);
    } catch (const YAML::Exception &e) {
        reader.error_at(e.mark.is_null() ? -1 : e.mark.line, e.mark.column, e.msg);
        return YAML::Node();
    }
}

} // namespace vorel::lab
