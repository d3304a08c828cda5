// tessaline-doctor: see kDoctorHelp.
#include "doctor/diagnosis_process.h"
#include "doctor/options.h"
#include "doctor/password.h"
#include "doctor/probe.h"
#include "doctor/system.h"

#include <cstdio>
#include <exception>
#include <memory>

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
    FileKind caFile = options.caFile.empty() ? FileKind::kFile : Examine(options.caFile).kind;
    if (caFile != FileKind::kFile) {
        fprintf(stderr, "tessaline-doctor: --ca-file %s %s\n", options.caFile.c_str(),
                caFile == FileKind::kMissing ? "does not exist" : "is not a regular file");
        return 2;
    }
    Password callerPassword, authPassword;
    TwoPasswords read = ReadTwoPasswords(options.caller, callerPassword, options.checkAuth, authPassword);
    if (!read.tooLong.empty()) {
        fprintf(stderr, "tessaline-doctor: %s\n", read.tooLong.c_str());
        return 2;
    }
    if (!read.firstGiven || !read.secondGiven) {
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
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::unique_ptr<ParentLink> parent = LinkToParent(arguments);
    DoctorOptions options;
    std::string error;
    if (!ParseOptions(arguments, options, error)) {
        fprintf(stderr, "tessaline-doctor: %s\nTry tessaline-doctor --help.\n", error.c_str());
        return 2;
    }
    if (parent)
        return ServeDiagnosis(options, *parent);
    if (options.help) {
        fputs(kDoctorHelp, stdout);
        return 0;
    }
    if (!options.probe.empty())
        return RunProbe(options);
    return DiagnoseApart(options);
}
