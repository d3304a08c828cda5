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
};

// False, with a message for the operator, when the arguments cannot be used.
bool ParseOptions(const std::vector<std::string>& arguments, DoctorOptions& options, std::string& error);

extern const char kDoctorHelp[];
