// Runs the extension's loading steps with the extension's own code and
// reports each one; then what list, the alias file and the asked checks
// would give. Reads only: never writes the settings file or anything else.
#pragma once

#include "doctor/options.h"
#include "doctor/report.h"

#include <string>

struct CheckPasswords {
    const std::string* caller = nullptr; // for --check-caller
    const std::string* auth = nullptr;   // for --check-auth
};

// Leaves the user library unloaded and the binding table empty.
Report Diagnose(const DoctorOptions& options, const CheckPasswords& passwords);
