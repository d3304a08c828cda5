// The data sets the benchmarks run at, one per account count, written into a
// temporary directory before any benchmark runs and removed after.
#pragma once

#include "bench/server_data.h"

#include <vector>

void CreateDataSets(const std::vector<size_t>& accountCounts);
const ServerData& DataSet(size_t accounts);
void RemoveDataSets();
