// Files for one test, in the system's temporary directory, named after the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

// A path of this process and test alone, so that neither a test running beside
// it nor a cached or leftover file can answer.
inline std::string ScratchPath(const std::string& suffix)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "velmora-" + std::to_string(getpid()) + "-";
    if (test)
        name += std::string(test->test_suite_name()) + "-" + test->name() + "-";
    name += suffix;
    for (char& c : name)
        if (c == '/')
            c = '-';
    std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove(path);
    return path.string();
}

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

inline std::string ReadBytes(const std::string& path)
{
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    for (int c; (c = fgetc(file)) != EOF;)
        bytes.push_back(static_cast<char>(c));
    fclose(file);
    return bytes;
}

// Joins lines with the given line end, after every line.
inline std::string Joined(const std::vector<std::string>& lines, const std::string& end)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + end;
    return text;
}

// The file's lines without their line ends, CR LF or LF alike.
inline std::vector<std::string> LogicalLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}
