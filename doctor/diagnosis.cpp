// The diagnosis in the order the operator reads it: what loading saw, then
// what list and the alias file would give, then the asked checks. Each step
// is a function of the facts it needs, found before it.
#include "doctor/diagnosis.h"

#include "commands/alias_index.h"
#include "commands/auth_command.h"
#include "commands/list_command.h"
#include "doctor/check_results.h"
#include "doctor/load_findings.h"
#include "doctor/load_steps.h"
#include "doctor/step_text.h"
#include "doctor/system.h"
#include "platform/ascii.h"
#include "request/caller_authentication.h"
#include "userlib/account_guards.h"

#include <algorithm>

namespace {

bool HasHighByte(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
}

std::string LowerCasedAscii(std::string text)
{
    for (char& c : text)
        c = AsciiLower(c);
    return text;
}

// Asked of the loaded user library as the extension asks for them.
LibraryFiles FilesTheLibraryNames(const LoadFindings& load)
{
    LibraryFiles files;
    if (!load.settingsFile)
        return files;
    char alias[kAliasPathSize + 1];
    ReadServerFilePath(alias, kAliasFileId);
    return {true, load.settingsFile->path, alias};
}

// Every account's address, as the user library walks over them; nothing
// when VL_FindFirst finds none.
std::optional<std::vector<std::string>> EveryAccount()
{
    AccountSearch search;
    if (!search.Started())
        return std::nullopt;
    std::vector<std::string> addresses;
    do {
        char address[kEmailBufferSize + 1] = {};
        gUserLibrary.VL_GetEmail(search.Current(), address);
        addresses.emplace_back(address);
    } while (search.Next());
    return addresses;
}

Step GroupStep(const std::string& group, const std::vector<std::string>& addresses)
{
    auto membersOf = [&](const std::string& name) {
        long members = 0;
        for (const std::string& address : addresses)
            members += gUserLibrary.VL_GroupFindMember(address.c_str(), name.c_str()) != 0;
        return members;
    };
    long members = membersOf(group);
    std::string name = "group:" + group;
    std::string detail = Quoted(group) + ": " + std::to_string(members) + " accounts";
    if (members > 0)
        return Ok(name, detail);
    // GroupNames is split at its commas and nowhere else: a space after
    // a comma is part of the next name.
    size_t first = group.find_first_not_of(" \t"), last = group.find_last_not_of(" \t");
    if (first == std::string::npos || (first == 0 && last + 1 == group.size()))
        return Warn(name, detail + "; no account is a member, so this name lists nobody");
    std::string trimmed = group.substr(first, last + 1 - first);
    const char* where = first > 0 && last + 1 < group.size() ? "begins and ends"
                        : first > 0                             ? "begins"
                                                                : "ends";
    long trimmedMembers = membersOf(trimmed);
    return Warn(name, detail + "; the name " + where +
                          " with white space, which the extension keeps as part of it, since it splits GroupNames "
                          "at commas only\n" + Quoted(trimmed) + " has " + std::to_string(trimmedMembers) +
                          (trimmedMembers > 0 ? " accounts: remove the white space around the comma in GroupNames"
                                              : " accounts too: no account is a member either way"));
}

struct ListFindings {
    bool noAccount = false; // the user library knows no account at all
    // The addresses list would send, once counted.
    std::optional<std::vector<std::string>> listed;
};

// list when the settings file, which holds the group filter, is no file:
// the extension cannot read it, or the doctor does not.
std::optional<Step> ListWithoutSettingsFile(const std::optional<SettingsFileFinding>& settings)
{
    if (!settings || settings->path.empty() || IsFileOrMissing(settings->found))
        return std::nullopt;
    if (RefusesToRead(settings->found.kind) || settings->found.kind == FileKind::kUnknown)
        return Fail("list", "list answers 500: the settings file is no file it can read, so the group filter is "
                            "unknown");
    return Warn("list", "not counted: the doctor does not read the settings file, which is no file");
}

// group:NAME for each configured group, then list: what list would answer.
// A list that shows no account fails.
ListFindings ListSteps(const std::optional<SettingsFileFinding>& settings, Report& report)
{
    ListFindings list;
    if (!BoundFor(gUserLibrary, kNeededForList)) {
        report.Add(Fail("list", "list answers 500: the user library lacks an entry point it needs"));
        return list;
    }
    std::optional<std::vector<std::string>> addresses = EveryAccount();
    if (!addresses) {
        list.noAccount = true;
        report.Add(Fail("list", "list answers 500: the user library's VL_FindFirst finds no account"));
        return list;
    }
    if (std::optional<Step> step = ListWithoutSettingsFile(settings)) {
        report.Add(std::move(*step));
        return list;
    }
    GroupNameList groups;
    if (!ReadGroupNames(groups)) {
        report.Add(Fail("list", "list answers 500: the settings file cannot be read, so the group filter is unknown"));
        return list;
    }
    for (const std::string& group : groups)
        report.Add(GroupStep(group, *addresses));
    std::vector<std::string> listed;
    for (const std::string& address : *addresses)
        if (IsListed(address.c_str(), groups))
            listed.push_back(address);
    report.accounts = static_cast<long>(addresses->size());
    report.listed = static_cast<long>(listed.size());
    std::string shown = "list would show " + std::to_string(listed.size()) + " of " +
                        std::to_string(addresses->size()) + " accounts";
    if (listed.empty())
        report.Add(Fail("list", shown + ": it answers 200 with an empty array, []\n" +
                                    (groups.empty() ? "every account is one of the mail server's reserved ones"
                                                    : "no account is a member of a group that GroupNames names")));
    else
        report.Add(Ok("list", shown + (groups.empty() ? " (no group names: every account but the reserved ones)" : "")));
    list.listed = std::move(listed);
    return list;
}

AliasIndex AliasFileStep(const std::string& file, Report& report)
{
    if (file.empty()) {
        report.aliases = 0;
        report.Add(Warn("alias-file", "the user library reports an empty path for it: list shows no aliases"));
        return {};
    }
    FileFound found = Examine(file);
    if (!IsFileOrMissing(found)) {
        report.Add(Warn("alias-file", WhatFollows(file, found, "list shows no aliases")));
        return {};
    }
    AliasFileReport read;
    AliasIndex aliases(ReadAliasText(file.c_str(), &read), &read);
    report.aliases = static_cast<long>(aliases.Count());
    if (!read.readable) {
        report.Add(Warn("alias-file", file + "\ncannot be read: list shows no aliases\nthe system says: " +
                                          WhyUnreadable(file)));
        return aliases;
    }
    report.Add(Ok("alias-file", file + "\n" + std::to_string(aliases.Count()) + " aliases; ignored lines: " +
                                    std::to_string(read.comments) + " comments, " +
                                    std::to_string(read.withoutEquals) + " without \"=\" (blank ones included), " +
                                    std::to_string(read.wildcardOrMacro) + " wildcard or macro aliases; " +
                                    std::to_string(read.cutOff) + " lines cut off at the 511-byte line limit"));
    return aliases;
}

// list sends each address as the mail server stores it, in its code page;
// only its full names are converted to UTF-8.
Step AddressesStep(const std::vector<std::string>& listed, const AliasIndex& aliasIndex, Report& report)
{
    long accounts = 0, aliases = 0;
    std::string example;
    auto note = [&](std::string_view address) {
        if (example.empty())
            example = address;
    };
    for (const std::string& address : listed) {
        std::string sent = LowerCasedAscii(address);
        if (HasHighByte(sent)) {
            ++accounts;
            note(sent);
        }
        aliasIndex.ForEachAlias(sent, [&](std::string_view alias) {
            if (HasHighByte(alias)) {
                ++aliases;
                note(alias);
            }
        });
    }
    report.nonAsciiAccounts = accounts;
    report.nonAsciiAliases = aliases;
    if (accounts + aliases == 0)
        return Ok("addresses", "every address that list would send is ASCII");
    return Warn("addresses", "list would send " + std::to_string(accounts) + " account addresses and " +
                                 std::to_string(aliases) + " aliases holding bytes above 0x7F, for example " +
                                 Quoted(example) +
                                 "\nlist sends addresses as the mail server stores them, in its code page, not in "
                                 "UTF-8: a client that reads the answer as strict UTF-8 rejects the whole body; the "
                                 "integrating application must send such an address back byte for byte as auth's "
                                 "user");
}

Step IdentityStep()
{
    return Ok("identity", "this program runs as " + CurrentAccount() +
                              "\nIIS loads the extension as the application pool's identity and reads files during "
                              "requests as the anonymous user (IUSR unless set otherwise)");
}

std::string AccessWords(const AccessAnswer& answer, const char* what)
{
    switch (answer.access) {
    case Access::kAllowed: return std::string("may ") + what + " (" + answer.note + ")";
    case Access::kDenied: return std::string("may NOT ") + what + " (" + answer.note + ")";
    case Access::kUnknown: return std::string("cannot tell whether it may ") + what + ": " + answer.note;
    }
    return "";
}

Step AccessStep(const std::string& account, const char* step, const std::string& path, AccessKind kind,
                const char* what)
{
    AccessAnswer answer = path.empty() ? AccessAnswer{Access::kUnknown, "the user library reports an empty path"}
                                       : AccountMay(account, path, kind);
    return {step, answer.access == Access::kAllowed ? Outcome::kOk : Outcome::kFailed,
            account + " " + AccessWords(answer, what)};
}

// The program folder as AppPath names it; the other files as the settings
// and alias steps asked the library for them.
std::vector<Step> AccessSteps(const std::string& account, const LoadFindings& load, const LibraryFiles& files)
{
    std::vector<Step> steps;
    steps.push_back(AccessStep(account, "access:program-folder", load.appPath ? load.appPath->value : "",
                               AccessKind::kFolder, "read the program folder"));
    if (!load.loads || !files.asked)
        return steps;
    steps.push_back(AccessStep(account, "access:alias-file", files.alias, AccessKind::kRead, "read the alias file"));
    steps.push_back(AccessStep(account, "access:settings-file-read", files.settings, AccessKind::kRead,
                               "read the settings file"));
    steps.push_back(AccessStep(account, "access:settings-file-write", files.settings, AccessKind::kSettingsWrite,
                               "write the settings file"));
    return steps;
}

// A check's step, and its result for the report's figures.
struct CheckedStep {
    Step step;
    std::string result;
};

// The extension's answer when a check cannot run: it does not load, or
// answers 500; or the doctor has no password to check.
std::optional<CheckedStep> CheckCannotRun(const char* step, bool loads, bool bound, const std::string* password)
{
    if (!loads)
        return CheckedStep{Fail(step, "not checked: the extension would not load"), kNotLoaded};
    if (!bound)
        return CheckedStep{Fail(step, "the extension answers 500: the user library lacks an entry point it needs"),
                           kInternalError};
    if (!password)
        return CheckedStep{Fail(step, "not checked: standard input gave no password for it (with --check-caller "
                                      "and --check-auth, two lines: the caller's password first)"),
                           kNoPassword};
    return std::nullopt;
}

// An unknown account is no surprise when the library knows none at all.
std::string NoAccountsNote(AccountVerdict verdict, const ListFindings& list)
{
    return verdict == AccountVerdict::kNoSuchAccount && list.noAccount
               ? "; the user library knows no account at all (see list)"
               : "";
}

CheckedStep CallerStep(const std::string& address, const std::string* password, bool loads, const ListFindings& list)
{
    if (auto cannot = CheckCannotRun("caller", loads, BoundFor(gUserLibrary, kNeededForCallerCheck), password))
        return *cannot;
    AccountVerdict verdict = CheckCallerAccount(address.c_str(), password->c_str());
    if (verdict == AccountVerdict::kAccepted)
        return {Ok("caller", address + " may call the extension"), CheckResultName(verdict)};
    return {Fail("caller", address + " may not call the extension (401): " + CheckResultWords(verdict) +
                               NoAccountsNote(verdict, list)),
            CheckResultName(verdict)};
}

CheckedStep AuthStep(const std::string& address, const std::string* password, bool loads, const ListFindings& list)
{
    if (auto cannot = CheckCannotRun("auth", loads, BoundFor(gUserLibrary, kNeededForAuth), password))
        return *cannot;
    AccountVerdict verdict = CheckAuthAccount(address, *password);
    if (verdict == AccountVerdict::kAccepted)
        return {Ok("auth", "auth would answer {\"succeeded\": true} for " + address), CheckResultName(verdict)};
    return {Fail("auth", "auth would answer {\"succeeded\": false} for " + address + ": " +
                             CheckResultWords(verdict) + NoAccountsNote(verdict, list)),
            CheckResultName(verdict)};
}

} // namespace

Report Diagnose(const DoctorOptions& options, const CheckPasswords& passwords)
{
    Report report;
    LoadFindings load = FindWhatLoadingSees();
    report.loads = load.loads;
    LibraryFiles files = load.loads ? FilesTheLibraryNames(load) : LibraryFiles{};
    for (Step& step : LoadSteps(load, load.loads ? &files : nullptr))
        report.Add(std::move(step));

    ListFindings list;
    if (load.loads) {
        list = ListSteps(load.settingsFile, report);
        AliasIndex aliases = files.asked ? AliasFileStep(files.alias, report) : AliasIndex{};
        if (list.listed)
            report.Add(AddressesStep(*list.listed, aliases, report));
    }
    report.Add(IdentityStep());
    if (!options.account.empty())
        for (Step& step : AccessSteps(options.account, load, files))
            report.Add(std::move(step));
    if (!options.checkCaller.empty()) {
        CheckedStep caller = CallerStep(options.checkCaller, passwords.caller, load.loads, list);
        report.caller = caller.result;
        report.Add(std::move(caller.step));
    }
    if (!options.checkAuth.empty()) {
        CheckedStep auth = AuthStep(options.checkAuth, passwords.auth, load.loads, list);
        report.auth = auth.result;
        report.Add(std::move(auth.step));
    }
    ReleaseUserLibrary();
    return report;
}
