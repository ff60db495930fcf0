// Reading a scenario file: the helpers every section parser uses, so that
// every complaint names the file, the line and what is wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <yaml-cpp/yaml.h>

namespace vorel::lab {

class ScenarioReader {
  public:
    explicit ScenarioReader(std::string file) : file_(std::move(file)) {}

    const std::string &file() const { return file_; }

    // Records a complaint about node ("FILE:LINE:COL: what").
    void error(const YAML::Node &node, const std::string &what);
    void error_at(int line, int column, const std::string &what);
    bool failed() const { return !errors_.empty(); }
    const std::vector<std::string> &errors() const { return errors_; }

    // Typed fields of a map.  A missing optional field gives the default;
    // a field of the wrong type or out of range is reported and gives the
    // default too, so parsing goes on and reports every fault in one pass.
    std::optional<uint64_t> number(const YAML::Node &map, const char *key, uint64_t max,
                                   bool required = false);
    uint64_t number_or(const YAML::Node &map, const char *key, uint64_t dflt, uint64_t max);
    std::optional<int64_t> signed_number(const YAML::Node &map, const char *key, int64_t min,
                                         int64_t max, bool required = false);
    std::optional<std::string> text(const YAML::Node &map, const char *key, bool required = false);
    std::string text_or(const YAML::Node &map, const char *key, const std::string &dflt);
    bool flag_or(const YAML::Node &map, const char *key, bool dflt);

    // A scalar node as a number (decimal, 0x hex) within max.
    std::optional<uint64_t> as_number(const YAML::Node &node, uint64_t max);
    std::optional<int64_t> as_signed(const YAML::Node &node, int64_t min, int64_t max);

    // Bytes given as a hex string ("00 01 ff") or a list of numbers.
    std::optional<std::vector<uint8_t>> bytes(const YAML::Node &node);

    // Complains about keys of map that are not in allowed.
    void only_keys(const YAML::Node &map, std::initializer_list<const char *> allowed);

  private:
    std::string file_;
    std::vector<std::string> errors_;
};

// Largest scenario file the lab reads (the demo router's is a few KiB).
constexpr size_t kMaxScenarioBytes = 16u << 20;

// Loads the file (a regular file of at most kMaxScenarioBytes); on a
// syntax error the reader holds the complaint and the
// result is a null node.
YAML::Node load_yaml_file(ScenarioReader &reader);

} // namespace vorel::lab
