// A fresh directory for one test's files, removed with everything in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class TempDirectory {
public:
    TempDirectory()
    {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() / ("tessaline-" + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~TempDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // Writes the bytes exactly as given and returns the file's path.
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::filesystem::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file.string();
    }

    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};
