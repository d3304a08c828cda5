// The doctor's command line.
#pragma once

#include <string>
#include <vector>

struct DoctorOptions {
    bool json = false;
    bool help = false;
    std::string checkCaller; // address, or empty
    std::string checkAuth;   // address, or empty
    std::string account;     // account whose access to the files is reported, or empty
    // --probe: the deployed endpoint's URL, checked from outside instead of this machine.
    std::string probe;
    std::string caller;      // the probe's caller, whose password is read first
    std::string caFile;      // PEM certificates trusted instead of the system's store
    unsigned httpPort = 0;   // where plain HTTP is tried; 0: the URL's port, or 80 when it names none
};

// False, with a message for the operator, when the arguments cannot be used.
bool ParseOptions(const std::vector<std::string>& arguments, DoctorOptions& options, std::string& error);

extern const char kDoctorHelp[];
