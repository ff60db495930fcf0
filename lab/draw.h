// A picture of the emulated router: its scenario as a Graphviz graph
// (vorel-lab draw).
#pragma once

#include <string>
#include <vector>
#include <yaml-cpp/yaml.h>

namespace vorel::lab {

// The router the documents describe (a loaded scenario: the main file, then
// the files it includes), in the dot language: one cluster per FPC holding
// its PIC slots (each with the interfaces on it, its PIC record, its
// service sets and tunnel groups, and whether an agent answers there) and
// its line card; aggregated bundles with an edge to each member; redundant
// pairs with an edge to each side, the active one marked.  name titles it.
std::string draw_router(const std::vector<YAML::Node> &documents, const std::string &name);

} // namespace vorel::lab
