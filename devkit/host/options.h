// The command line of isapi-devhost.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <variant>

struct ListenAddress {
    std::string host;
    unsigned short port = 0;
};

struct Options {
    std::string extension;
    ListenAddress https{"127.0.0.1", 8443};
    std::optional<ListenAddress> http;
    // Both or neither; without them a self-signed pair is kept in stateDirectory.
    std::string certificate;
    std::string key;
    std::string stateDirectory = ".";
    unsigned threads = 1;
    std::size_t readAhead = 49152;
    std::chrono::seconds timeout{10};
};

// The options to run with, or the exit code once help or a usage error has been printed.
using CommandLine = std::variant<Options, int>;

CommandLine ParseCommandLine(int argc, char** argv);
