// tessaline-doctor: see kDoctorHelp.
#include "doctor/diagnosis.h"
#include "doctor/options.h"
#include "doctor/password.h"
#include "doctor/probe.h"
#include "doctor/system.h"

#include <cstdio>
#include <exception>

namespace {

// The caller's password first, then the test account's; without them the
// probe would leave out half its steps, so a missing one is a usage error.
int RunProbe(const DoctorOptions& options)
{
    ProbeUrl url;
    std::string error;
    if (!ParseProbeUrl(options.probe, url, error)) {
        fprintf(stderr, "tessaline-doctor: %s\n", error.c_str());
        return 2;
    }
    // Only a regular file: a pipe or a device in its place could keep the
    // probe waiting before it has sent anything.
    if (!options.caFile.empty() && Examine(options.caFile).kind != FileKind::kFile) {
        bool missing = Examine(options.caFile).kind == FileKind::kMissing;
        fprintf(stderr, "tessaline-doctor: --ca-file %s %s\n", options.caFile.c_str(),
                missing ? "does not exist" : "is not a regular file");
        return 2;
    }
    Password callerPassword, authPassword;
    if (!ReadPassword(options.caller, callerPassword) ||
        (!options.checkAuth.empty() && !ReadPassword(options.checkAuth, authPassword))) {
        fputs("tessaline-doctor: no password given\n", stderr);
        return 2;
    }
    try {
        auto transport = MakeProbeTransport(url, options.caFile);
        Report report = Probe(options, {&callerPassword.text(), &authPassword.text()}, url, *transport);
        fputs((options.json ? Json(report) : PlainText(report)).c_str(), stdout);
        return ExitStatus(report);
    } catch (const std::exception& failure) {
        fprintf(stderr, "tessaline-doctor: %s\n", failure.what());
        return 1;
    }
}

} // namespace

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

    if (!options.probe.empty())
        return RunProbe(options);

    // The caller's password first, then the one for --check-auth. A missing
    // one is a usage error, but the report of everything else still helps.
    Password callerPassword, authPassword;
    bool callerGiven = options.checkCaller.empty() || ReadPassword(options.checkCaller, callerPassword);
    bool authGiven = options.checkAuth.empty() || (callerGiven && ReadPassword(options.checkAuth, authPassword));
    CheckPasswords passwords{callerGiven ? &callerPassword.text() : nullptr,
                             authGiven ? &authPassword.text() : nullptr};

    try {
        Report report = Diagnose(options, passwords);
        fputs((options.json ? Json(report) : PlainText(report)).c_str(), stdout);
        if (!callerGiven || !authGiven) {
            fputs("tessaline-doctor: no password given; with --check-caller and --check-auth, standard input "
                  "holds two lines, the caller's password first\n",
                  stderr);
            return 2;
        }
        return ExitStatus(report);
    } catch (const std::exception& failure) {
        fprintf(stderr, "tessaline-doctor: %s\n", failure.what());
        return 1;
    }
}
