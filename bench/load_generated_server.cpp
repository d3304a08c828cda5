// Apart from generated_server.cpp, which the stand-in library builds too:
// loading needs the extension, which only the benchmarks link.
#include "bench/generated_server.h"
#include "bench/loaded_extension.h"

#include <cstdio>
#include <filesystem>

std::optional<ServerData> LoadGeneratedServer(const std::string& folder, size_t accounts)
{
    std::filesystem::create_directories(folder);
    ServerData data = WriteGeneratedServer(folder, accounts, FLAT_USER_LIBRARY_DIR);
    if (!LoadExtensionFor(data)) {
        fprintf(stderr, "GetExtensionVersion refused the data set of %zu accounts\n", accounts);
        return std::nullopt;
    }
    return data;
}
