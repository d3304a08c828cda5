// Objects that a path may name in place of a file, as each system has them:
// a device that never ends, a pipe that no one writes to, a folder. A reader
// that took any of them for a file would hang or read for ever.
#pragma once

#include "platform/win32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

enum class NotAFileKind { kDevice, kPipe, kFolder };

inline const char* KindName(NotAFileKind kind)
{
    switch (kind) {
    case NotAFileKind::kDevice: return "Device";
    case NotAFileKind::kPipe: return "Pipe";
    case NotAFileKind::kFolder: return "Folder";
    }
    return "";
}

constexpr NotAFileKind kNotAFileKinds[] = {NotAFileKind::kDevice, NotAFileKind::kPipe, NotAFileKind::kFolder};

// The object of one kind, made at a free path given (a device is the
// system's own), and taken away again.
class NotAFile {
public:
    NotAFile(NotAFileKind kind, const std::filesystem::path& freePath) : kind_(kind)
    {
        switch (kind) {
        case NotAFileKind::kDevice:
#ifdef _WIN32
            path_ = "NUL";
#else
            path_ = "/dev/zero";
#endif
            break;
        case NotAFileKind::kPipe:
#ifdef _WIN32
            // A pipe's name is any text without a backslash; the free path's
            // keeps it apart from every other test's.
            path_ = freePath.string();
            for (char& c : path_)
                if (c == '\\' || c == ':')
                    c = '-';
            path_ = "\\\\.\\pipe\\" + path_;
            pipe_ = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
            EXPECT_NE(pipe_, INVALID_HANDLE_VALUE);
#else
            path_ = freePath.string();
            EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0) << path_;
#endif
            break;
        case NotAFileKind::kFolder:
            path_ = freePath.string();
            std::filesystem::create_directory(path_);
            break;
        }
    }
    ~NotAFile()
    {
        std::error_code ignored;
#ifdef _WIN32
        if (pipe_ != INVALID_HANDLE_VALUE)
            CloseHandle(pipe_);
        if (kind_ == NotAFileKind::kFolder)
            std::filesystem::remove(path_, ignored);
#else
        if (kind_ != NotAFileKind::kDevice)
            std::filesystem::remove(path_, ignored);
#endif
    }
    NotAFile(const NotAFile&) = delete;
    NotAFile& operator=(const NotAFile&) = delete;

    const std::string& Path() const { return path_; }

    // What Windows leaves as the last error when a profile is read from it.
    DWORD ReadError() const
    {
        switch (kind_) {
        case NotAFileKind::kDevice: return ERROR_INVALID_PARAMETER;
        case NotAFileKind::kPipe: return ERROR_INVALID_FUNCTION;
        case NotAFileKind::kFolder: return ERROR_ACCESS_DENIED;
        }
        return ERROR_SUCCESS;
    }

private:
    NotAFileKind kind_;
    std::string path_;
#ifdef _WIN32
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
#endif
};

// Runs the call and gives its result, failing the test and ending the
// process when it has not answered within a second: a reader that hangs
// cannot be stopped from outside, and the test must still end.
template <class Call>
auto AnsweredWithinASecond(Call call)
{
    auto answer = std::async(std::launch::async, call);
    if (answer.wait_for(std::chrono::seconds(1)) != std::future_status::ready) {
        ADD_FAILURE() << "no answer within a second";
        fflush(nullptr);
        std::_Exit(1);
    }
    return answer.get();
}
