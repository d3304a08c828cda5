#include "bench/data_sets.h"

#include "tests/temp_directory.h"

#include <filesystem>
#include <map>
#include <memory>

namespace {

std::unique_ptr<TempDirectory> gDirectory;
std::map<size_t, ServerData> gDataSets;

} // namespace

void CreateDataSets(const std::vector<size_t>& accountCounts)
{
    gDirectory = std::make_unique<TempDirectory>();
    for (size_t accounts : accountCounts) {
        std::string directory = gDirectory->File(std::to_string(accounts));
        std::filesystem::create_directories(directory);
        gDataSets[accounts] = WriteServerData(directory, accounts, TESSALINE_USER_LIBRARY_DIR);
    }
}

const ServerData& DataSet(size_t accounts)
{
    return gDataSets.at(accounts);
}

void RemoveDataSets()
{
    gDataSets.clear();
    gDirectory.reset();
}
