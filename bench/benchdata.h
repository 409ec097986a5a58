// Helpers shared by the benchmarks: the generated reply texts, parsed trees, and a host
// whose snapshot lists are filled from them without any network.
#ifndef VARNIX_BENCH_BENCHDATA_H
#define VARNIX_BENCH_BENCHDATA_H

#include <memory>
#include <string>

#include "item.h"

class Srv;

// Folder of the generated reply texts (VARNIX_BENCH_DATA in the environment overrides it).
std::string benchdatadir();
// The text of a reply file, e.g. benchreply("tasks-5000", "get_state.xml"). Aborts the
// run with a message when the file is missing, since every figure would be meaningless.
const std::string& benchreply(const std::string& set, const std::string& file);
// The reply file parsed into a tree.
std::unique_ptr<Item> benchtree(const std::string& set, const std::string& file);

// A host that never connects, with state, disk usage and statistics of one data set
// pushed onto its lists.
std::unique_ptr<Srv> benchhost(const std::string& set);

#endif
