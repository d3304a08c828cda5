#include "doctor/options.h"

const char kDoctorHelp[] =
    "Usage: tessaline-doctor [--json] [--check-caller ADDRESS] [--check-auth ADDRESS]\n"
    "                        [--account NAME] [--library-timeout SECONDS]\n"
    "       tessaline-doctor [--json] --probe URL --caller ADDRESS [--check-auth ADDRESS]\n"
    "                        [--ca-file FILE] [--http-port PORT]\n"
    "\n"
    "Says whether the Tessaline integration extension would load on this machine,\n"
    "and why not, by running its loading steps with its own code: the mail\n"
    "server's registry key, AppPath and IniPath, [Advanced] UserDllType, the user\n"
    "library's path, loading it, every entry point, the settings file and its\n"
    "[TessalineIntegration] GroupNames, the groups and accounts that list would\n"
    "show, and the alias file.\n"
    "\n"
    "It only reads. It never writes the settings file or anything else; where the\n"
    "extension would add GroupNames on its first load, it says so instead.\n"
    "\n"
    "Options:\n"
    "  --check-caller ADDRESS  ask a password (without echo; from standard input\n"
    "                          when that is not a terminal; at most 1024 bytes)\n"
    "                          and say which of the extension's caller checks\n"
    "                          would fail\n"
    "  --check-auth ADDRESS    ask a password the same way and say what the auth\n"
    "                          command would answer, and why. With both checks\n"
    "                          the caller's password comes first: asked first,\n"
    "                          or the first of two lines on standard input\n"
    "  --account NAME          say whether this account may read the program\n"
    "                          folder, the alias file and the settings file, and\n"
    "                          write the settings file, along the whole path\n"
    "  --library-timeout SECONDS\n"
    "                          how long one call into the user library may take\n"
    "                          (default 30); the doctor runs its steps in a\n"
    "                          process of its own, stops it after that long, and\n"
    "                          reports the call, as it does when the library\n"
    "                          crashes or ends that process\n"
    "  --probe URL             instead, check the deployed extension from any\n"
    "                          machine: https://host[:port]/path/TessalineIntegration.dll.\n"
    "                          Steps: tls (chain, host name, expiry, protocol),\n"
    "                          http2, plain-http, get, post-anonymous,\n"
    "                          invalid-command, list, auth; each answer that is\n"
    "                          not the extension's is named with its cause.\n"
    "                          Each exchange must be answered within 15 s, and\n"
    "                          whole within 15 s (list: 120 s); a page is read\n"
    "                          up to 64 KiB, list's answer checked as it comes,\n"
    "                          up to 1 GiB. Run it from the integrating\n"
    "                          application's machine: IIS answers the server's\n"
    "                          own requests apart\n"
    "  --caller ADDRESS        the caller the probe posts as; its password is read\n"
    "                          as --check-caller reads it, and first when\n"
    "                          --check-auth asks for a second one; with --probe,\n"
    "                          --check-auth posts auth for that account\n"
    "  --ca-file FILE          with --probe: trust the PEM certificates in FILE\n"
    "                          instead of the system's trust store\n"
    "  --http-port PORT        with --probe: where to try plain HTTP (default: the\n"
    "                          URL's port, or 80 when it names none)\n"
    "  --json                  print the report as one JSON object\n"
    "  --help                  print this text\n"
    "\n"
    "Check results (\"caller\" and \"auth\" in JSON): ok, not-an-address,\n"
    "empty-password, no-such-account, disabled, no-permission-4, frozen,\n"
    "wrong-password, password-not-in-code-page; not-loaded when the extension\n"
    "would not load, internal-error when it would answer 500, no-password when\n"
    "standard input gave no password for the check.\n"
    "\n"
    "With --probe, \"caller\" is ok or refused and \"auth\" succeeded or failed.\n"
    "\n"
    "Exit status: 0 when the extension would load, list would show accounts and\n"
    "every requested check passes (with --probe: when the endpoint answers as the\n"
    "extension does; warnings aside), 1 otherwise, 2 for a usage error, a missing\n"
    "password included (the report is printed all the same, but for --probe), and\n"
    "for a password over 1024 bytes (refused before any step).\n";

namespace {

bool TakeValue(const std::vector<std::string>& arguments, size_t& at, std::string& value, std::string& error)
{
    const std::string& option = arguments[at];
    if (at + 1 >= arguments.size() || arguments[at + 1].empty()) {
        error = option + " needs a value";
        return false;
    }
    value = arguments[++at];
    return true;
}

// A whole number from 1 to `largest` (at most five digits), or 0 for
// anything else.
unsigned NumberUpTo(const std::string& text, unsigned largest)
{
    if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    unsigned long number = std::stoul(text);
    return number <= largest ? static_cast<unsigned>(number) : 0;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& arguments, DoctorOptions& options, std::string& error)
{
    for (size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "--help" || argument == "-h" || argument == "/?") {
            options.help = true;
        } else if (argument == "--check-caller") {
            if (!TakeValue(arguments, at, options.checkCaller, error))
                return false;
        } else if (argument == "--check-auth") {
            if (!TakeValue(arguments, at, options.checkAuth, error))
                return false;
        } else if (argument == "--account") {
            if (!TakeValue(arguments, at, options.account, error))
                return false;
        } else if (argument == "--library-timeout") {
            std::string seconds;
            if (!TakeValue(arguments, at, seconds, error))
                return false;
            options.libraryTimeout = NumberUpTo(seconds, kLongestLibraryTimeout);
            if (options.libraryTimeout == 0) {
                error = "--library-timeout takes a number of seconds from 1 to " +
                        std::to_string(kLongestLibraryTimeout);
                return false;
            }
        } else if (argument == "--probe" || argument == "--caller" || argument == "--ca-file") {
            std::string& value = argument == "--probe" ? options.probe : argument == "--caller" ? options.caller : options.caFile;
            if (!TakeValue(arguments, at, value, error))
                return false;
        } else if (argument == "--http-port") {
            std::string port;
            if (!TakeValue(arguments, at, port, error))
                return false;
            options.httpPort = NumberUpTo(port, 65535);
            if (options.httpPort == 0) {
                error = "--http-port takes a port number";
                return false;
            }
        } else {
            error = "unknown argument: " + argument;
            return false;
        }
    }
    if (options.probe.empty() != options.caller.empty()) {
        error = "--probe and --caller go together";
        return false;
    }
    if (!options.probe.empty() &&
        (!options.checkCaller.empty() || !options.account.empty() || options.libraryTimeout != kDefaultLibraryTimeout)) {
        error = "--probe checks a server from outside; --check-caller, --account and --library-timeout check this "
                "machine";
        return false;
    }
    if (options.probe.empty() && (!options.caFile.empty() || options.httpPort)) {
        error = "--ca-file and --http-port go with --probe";
        return false;
    }
    return true;
}
