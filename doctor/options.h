// The doctor's command line.
#pragma once

#include <string>
#include <vector>

constexpr unsigned kDefaultLibraryTimeout = 30;
constexpr unsigned kLongestLibraryTimeout = 86400;

struct DoctorOptions {
    bool json = false;
    bool help = false;
    std::string checkCaller; // address, or empty
    std::string checkAuth;   // address, or empty
    std::string account;     // account whose access to the files is reported, or empty
    // How long one call into the user library may take before the doctor
    // stops it; a real server's reload of its users can be slow.
    unsigned libraryTimeout = kDefaultLibraryTimeout; // seconds
    // --probe: the deployed endpoint's URL, checked from outside instead of this machine.
    std::string probe;
    std::string caller;      // the probe's caller, whose password is read first
    std::string caFile;      // PEM certificates trusted instead of the system's store
    unsigned httpPort = 0;   // where plain HTTP is tried; 0: the URL's port, or 80 when it names none
};

// False, with a message for the operator, when the arguments cannot be used.
bool ParseOptions(const std::vector<std::string>& arguments, DoctorOptions& options, std::string& error);

extern const char kDoctorHelp[];
