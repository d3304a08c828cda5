// Runs a fuzz target over saved inputs, without a fuzzing engine: each
// argument is a file or a directory whose files are replayed in name order.
#include "fuzz/fuzz_target.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> InputsOf(const fs::path& argument)
{
    if (!fs::is_directory(argument))
        return {argument};
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool Replay(const fs::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    // libFuzzer never passes a null pointer, not even for an empty input.
    bytes.push_back(0);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size() - 1);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& file : InputsOf(argv[i])) {
            if (!Replay(file))
                return 1;
            ++replayed;
        }
    }
    if (replayed == 0) {
        fprintf(stderr, "no input to replay\n");
        return 1;
    }
    printf("%zu inputs replayed\n", replayed);
    return 0;
}
