// tessaline-doctor: see kDoctorHelp.
#include "doctor/diagnosis.h"
#include "doctor/options.h"
#include "doctor/password.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    DoctorOptions options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        fprintf(stderr, "tessaline-doctor: %s\nTry tessaline-doctor --help.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        fputs(kDoctorHelp, stdout);
        return 0;
    }

    Password callerPassword, authPassword;
    CheckPasswords passwords{&callerPassword.text(), &authPassword.text()};
    if ((!options.checkCaller.empty() && !ReadPassword(options.checkCaller, callerPassword)) ||
        (!options.checkAuth.empty() && !ReadPassword(options.checkAuth, authPassword))) {
        fputs("tessaline-doctor: no password given\n", stderr);
        return 2;
    }

    try {
        Report report = Diagnose(options, passwords);
        fputs((options.json ? Json(report) : PlainText(report)).c_str(), stdout);
        return ExitStatus(report);
    } catch (const std::exception& failure) {
        fprintf(stderr, "tessaline-doctor: %s\n", failure.what());
        return 1;
    }
}
