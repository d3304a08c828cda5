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
    // Empty: the user's state directory (see state_directory.h).
    std::string stateDirectory;
    unsigned threads = 1;
    unsigned networkThreads = 1;
    std::size_t readAhead = 49152;
    // The extension takes bodies of up to 4096 bytes; a little room beyond
    // that lets it give its own answer to a body slightly too long.
    std::size_t maxBody = 65536;
    std::size_t clientConnections = 32;
    // The answers waiting to be written, all connections together: room for
    // one list of a million accounts with an alias each (141 MB) or many
    // smaller ones, and far less than a development machine has to spare.
    std::size_t answerBudget = std::size_t{256} * 1024 * 1024;
    // For the TLS handshake and the request's head together.
    std::chrono::seconds headTimeout{10};
    std::chrono::seconds timeout{10};
};

// The options to run with, or the exit code once help or a usage error has been printed.
using CommandLine = std::variant<Options, int>;

CommandLine ParseCommandLine(int argc, char** argv);
