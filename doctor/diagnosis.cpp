#include "doctor/diagnosis.h"

#include "commands/alias_index.h"
#include "commands/auth_command.h"
#include "commands/list_command.h"
#include "doctor/check_results.h"
#include "doctor/load_messages.h"
#include "doctor/system.h"
#include "platform/ascii.h"
#include "platform/win32.h"
#include "request/caller_authentication.h"
#include "userlib/account_guards.h"
#include "userlib/loading.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

bool Exists(const std::string& path)
{
    std::error_code ignored;
    return !path.empty() && fs::exists(path, ignored);
}

bool IsFileOrMissing(const FileFound& found)
{
    return found.kind == FileKind::kFile || found.kind == FileKind::kMissing;
}

// "<path> is a folder, not a file", for a path that names no file.
std::string NotAFile(const std::string& path, const FileFound& found)
{
    switch (found.kind) {
    case FileKind::kFolder: return path + " is a folder, not a file";
    case FileKind::kDevice: return path + " is a device, not a file";
    case FileKind::kPipe: return path + " is a pipe (FIFO), not a file";
    case FileKind::kSocket: return path + " is a socket, not a file";
    case FileKind::kOther: return path + " is not a regular file";
    case FileKind::kUnknown: return path + " cannot be examined: " + found.reason;
    case FileKind::kFile:
    case FileKind::kMissing: break;
    }
    return path;
}

// What the extension makes of a path that names no file, and what follows
// from it; the doctor itself never reads such a path, which might block.
std::string WhatFollows(const std::string& path, const FileFound& found, const std::string& consequence)
{
    std::string text = NotAFile(path, found) + "; the doctor does not read it\n";
    if (found.kind == FileKind::kUnknown || RefusesToRead(found.kind))
        return text + "the extension cannot read it: " + consequence;
    return text + "the extension would read it as a file and take whatever it gives, if it answers at all";
}

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

// What the extension loses without an entry point with these uses, in its
// own terms.
std::string CostOfMissing(unsigned neededFor)
{
    std::string cost;
    auto add = [&](unsigned uses, const char* what) {
        if ((neededFor & uses) != 0)
            cost += (cost.empty() ? "" : "; ") + std::string(what);
    };
    add(kNeededToLoad | kNeededForLoadTest, "the extension refuses to load");
    add(kNeededForCallerCheck, "every request answers 500 (the caller check needs it)");
    add(kNeededForList, "list answers 500");
    add(kNeededForAuth, "auth answers 500");
    return cost;
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

class Diagnosis : private LoadObserver {
public:
    Diagnosis(const DoctorOptions& options, const CheckPasswords& passwords)
        : options_(options), passwords_(passwords)
    {
    }

    Report Run()
    {
        report_.loads = RegistryFileStep() && LoadExtension(this);
        if (report_.loads) {
            Accounts();
            Aliases();
            Addresses();
            NoteMainSettingsConsequences();
        }
        Identity();
        if (!options_.account.empty())
            AccountAccess();
        if (!options_.checkCaller.empty())
            CallerCheck();
        if (!options_.checkAuth.empty())
            AuthCheck();
        ReleaseUserLibrary();
        return std::move(report_);
    }

private:
    void Ok(const std::string& step, const std::string& detail) { report_.Add(step, Outcome::kOk, detail); }
    void Warn(const std::string& step, const std::string& detail) { report_.Add(step, Outcome::kWarning, detail); }
    void Fail(const std::string& step, const std::string& detail) { report_.Add(step, Outcome::kFailed, detail); }

    // Where the registry is a file, a device or a pipe in its place
    // would never finish reading.
    bool RegistryFileStep()
    {
        std::string registryFile = RegistryFilePath();
        FileFound registry = registryFile.empty() ? FileFound{FileKind::kFile, ""} : Examine(registryFile);
        if (IsFileOrMissing(registry))
            return true;
        Fail("registry", "the registry file " +
                             WhatFollows(registryFile, registry, "it finds no key, and refuses to load") + "\n" +
                             RegistryDescription());
        return false;
    }

    bool SafeToRead(const char* path) override
    {
        return path[0] != '\0' && IsFileOrMissing(Examine(path));
    }

    void ServerValueRead(const char* name, ServerValue result, const char* value) override
    {
        bool appPath = strcmp(name, "AppPath") == 0;
        if (appPath && result == ServerValue::kNoKey) {
            std::string in32BitView = ServerKeyIn32BitView();
            if (in32BitView.empty())
                Fail("registry", std::string(kNoServerKey) + "\n" + RegistryDescription());
            else
                Fail("registry", std::string(kServerIs32Bit) + "\nfound only in " + in32BitView +
                                     "\nthe extension reads " + RegistryDescription());
            return;
        }
        if (appPath) {
            applicationDirectory_ = value;
            Ok("registry", std::string("HKEY_LOCAL_MACHINE\\") + kServerKeyPath + " found\n" + RegistryDescription());
        }
        switch (result) {
        case ServerValue::kRead:
            if (appPath)
                Ok(name, ValueWithLength(value));
            else
                MainSettingsStep(value);
            break;
        case ServerValue::kNoKey:
        case ServerValue::kMissing: Fail(name, std::string(name) + " is " + kValueMissing); break;
        case ServerValue::kEmpty: Fail(name, std::string(name) + " is " + kValueEmpty); break;
        case ServerValue::kTooLong: Fail(name, std::string(name) + " is " + kValueTooLong); break;
        }
    }

    static std::string ValueWithLength(const char* value)
    {
        return Quoted(value) + " (" + std::to_string(strlen(value)) + " of the " +
               std::to_string(kRegistryValueLimit - 1) + " characters the extension reads)";
    }

    // IniPath names the main settings file, from which the extension reads
    // the library's type; a user library may read its own paths there too.
    void MainSettingsStep(const char* path)
    {
        mainSettings_ = Examine(path);
        std::string detail = ValueWithLength(path);
        if (mainSettings_.kind == FileKind::kFile) {
            Ok("IniPath", detail);
            return;
        }
        if (mainSettings_.kind == FileKind::kMissing)
            detail += std::string("\nthe main settings file ") + path + " does not exist";
        else
            detail += "\nthe main settings file " + WhatFollows(path, mainSettings_, "everything read from it is empty");
        detail += "\n[Advanced] UserDllType reads as empty";
        mainSettingsStep_ = report_.steps.size();
        Warn("IniPath", detail);
    }

    // The doctor reads the type only where nothing could block: the
    // extension's reader gives an empty type for a missing file.
    void LibraryTypeRead(const UserLibraryLocation& location, bool) override
    {
        std::string settings = location.settingsPath;
        if (mainSettings_.kind == FileKind::kFile) {
            Ok("UserDllType", "main settings file " + settings + "\n[Advanced] UserDllType = " +
                                  Quoted(location.libraryType));
            return;
        }
        Warn("UserDllType", "[Advanced] UserDllType = " + Quoted(location.libraryType) +
                                ": read as empty, the main settings file " + settings +
                                (mainSettings_.kind == FileKind::kMissing   ? " does not exist"
                                 : mainSettings_.kind == FileKind::kUnknown ? " cannot be examined"
                                                                            : " is no file") +
                                " (see IniPath)");
    }

    void LibraryPathComposed(const UserLibraryLocation& location, bool fits) override
    {
        if (!fits) {
            Fail("library-path", kLibraryPathTooLong);
            return;
        }
        Ok("library-path", std::string(location.libraryPath) + " (" + std::to_string(strlen(location.libraryPath)) +
                               " of " + std::to_string(kLibraryPathSize - 1) + " characters)");
    }

    void LibraryLoaded(const char* libraryPath, bool loaded) override
    {
        if (loaded) {
            Ok("load", std::string("loaded ") + libraryPath);
            return;
        }
        LoadFailure failure = ExplainLoadFailure(libraryPath);
        std::string cause = !failure.cause.empty() ? failure.cause
                            : !Exists(libraryPath) ? kLibraryNotThere
                                                   : kLibraryUnloadable;
        Fail("load", cause + "\n" + libraryPath + "\nthe system says: " + failure.osText);
    }

    void EntryPointsBound(const BindingTable& table) override
    {
        ForEachEntryPoint(table, [&](auto slot, const char* name, unsigned neededFor) {
            if (slot != nullptr)
                Ok(name, "present");
            else if ((neededFor & (kNeededToLoad | kNeededForLoadTest)) != 0)
                Fail(name, "missing: " + CostOfMissing(neededFor));
            else
                Warn(name, "missing: " + CostOfMissing(neededFor));
        });
    }

    void UsersReloaded(bool reloaded) override
    {
        if (reloaded)
            Ok("reload", "VL_ReloadUsers called once, as the extension does at load");
        else
            Fail("reload", kNoReloadUsers);
    }

    void LoadTested(bool passed) override
    {
        if (passed)
            Ok("load-test", "VL_GetIsFrozen is there: the extension would load");
        else
            Fail("load-test", kNoGetIsFrozen);
    }

    void SettingsFound(const char* settingsPath, std::optional<GroupNamesSetting> setting) override
    {
        if (!settingsPath) {
            Warn("settings-file", "not asked for: VL_GetDBPath is missing");
            return;
        }
        std::string file = settingsPath;
        settingsFile_ = file;
        if (file.empty()) {
            Warn("settings-file", "the user library reports an empty path for it: there is no file to read "
                                  "GroupNames from or to keep it in, so the group filter is unknown and list "
                                  "answers 500");
            return;
        }
        settingsKind_ = Examine(file);
        if (!setting) {
            Warn("settings-file", WhatFollows(file, settingsKind_,
                                              "it leaves it untouched at load, and list answers 500"));
            return;
        }
        bool exists = settingsKind_.kind == FileKind::kFile;
        bool readable = exists && MayRead(file), writable = exists && MayWrite(file);
        std::string detail = file + (exists ? "" : " (does not exist)") + "\nreadable: " +
                             (readable ? "yes" : "no") + ", writable: " + (writable ? "yes" : "no");
        if (*setting == GroupNamesSetting::kUnreadable) {
            Warn("settings-file", detail + "\nit cannot be read now: the extension leaves it untouched at load, "
                                           "and list answers 500 until it can be read\nthe system says: " +
                                      WhyUnreadable(file));
            return;
        }
        if (*setting == GroupNamesSetting::kAbsent && !writable && exists)
            Warn("settings-file", detail + "\nthe extension cannot add GroupNames to it");
        else
            Ok("settings-file", detail);
        GroupNamesStep(settingsPath, *setting == GroupNamesSetting::kPresent);
    }

    void GroupNamesStep(const char* path, bool present)
    {
        if (!present) {
            Ok("GroupNames", std::string("[") + kSettingsSection +
                                 "] GroupNames is absent: the extension would add it empty on its first load "
                                 "(the doctor writes nothing); every account is listed");
            return;
        }
        constexpr DWORD kWhole = 64 * 1024;
        std::unique_ptr<char[]> value(new char[kWhole]());
        GetPrivateProfileStringA(kSettingsSection, kGroupNamesKey, "", value.get(), kWhole, path);
        size_t length = strlen(value.get());
        std::string detail = std::string("[") + kSettingsSection + "] GroupNames = " + Quoted(value.get());
        if (length >= kGroupNamesSize)
            Warn("GroupNames", detail + "\n" + std::to_string(length) + " characters; the extension reads only the first " +
                                   std::to_string(kGroupNamesSize - 1));
        else
            Ok("GroupNames", detail);
    }

    // What list would answer; a list that shows no account fails.
    void Accounts()
    {
        if (!BoundFor(gUserLibrary, kNeededForList)) {
            Fail("list", "list answers 500: the user library lacks an entry point it needs");
            return;
        }
        std::vector<std::string> addresses;
        AccountSearch search;
        if (!search.Started()) {
            noAccounts_ = true;
            Fail("list", "list answers 500: the user library's VL_FindFirst finds no account");
            return;
        }
        do {
            char address[kEmailBufferSize + 1] = {};
            gUserLibrary.VL_GetEmail(search.Current(), address);
            addresses.emplace_back(address);
        } while (search.Next());

        if (!settingsFile_.empty() && !IsFileOrMissing(settingsKind_)) {
            if (RefusesToRead(settingsKind_.kind) || settingsKind_.kind == FileKind::kUnknown)
                Fail("list", "list answers 500: the settings file is no file it can read, so the group filter is "
                             "unknown");
            else
                Warn("list", "not counted: the doctor does not read the settings file, which is no file");
            return;
        }
        GroupNameList groups;
        if (!ReadGroupNames(groups)) {
            Fail("list", "list answers 500: the settings file cannot be read, so the group filter is unknown");
            return;
        }
        for (const std::string& group : groups)
            GroupStep(group, addresses);
        for (const std::string& address : addresses)
            if (IsListed(address.c_str(), groups))
                listed_.push_back(address);
        report_.accounts = static_cast<long>(addresses.size());
        report_.listed = static_cast<long>(listed_.size());
        std::string shown = "list would show " + std::to_string(listed_.size()) + " of " +
                            std::to_string(addresses.size()) + " accounts";
        if (listed_.empty())
            Fail("list", shown + ": it answers 200 with an empty array, []\n" +
                             (groups.empty() ? "every account is one of the mail server's reserved ones"
                                             : "no account is a member of a group that GroupNames names"));
        else
            Ok("list", shown + (groups.empty() ? " (no group names: every account but the reserved ones)" : ""));
    }

    void GroupStep(const std::string& group, const std::vector<std::string>& addresses)
    {
        auto membersOf = [&](const std::string& name) {
            long members = 0;
            for (const std::string& address : addresses)
                members += gUserLibrary.VL_GroupFindMember(address.c_str(), name.c_str()) != 0;
            return members;
        };
        long members = membersOf(group);
        std::string detail = Quoted(group) + ": " + std::to_string(members) + " accounts";
        if (members > 0) {
            Ok("group:" + group, detail);
            return;
        }
        // GroupNames is split at its commas and nowhere else: a space after
        // a comma is part of the next name.
        size_t first = group.find_first_not_of(" \t"), last = group.find_last_not_of(" \t");
        if (first == std::string::npos || (first == 0 && last + 1 == group.size())) {
            Warn("group:" + group, detail + "; no account is a member, so this name lists nobody");
            return;
        }
        std::string trimmed = group.substr(first, last + 1 - first);
        const char* where = first > 0 && last + 1 < group.size() ? "begins and ends"
                            : first > 0                             ? "begins"
                                                                    : "ends";
        long trimmedMembers = membersOf(trimmed);
        Warn("group:" + group, detail + "; the name " + where +
                                   " with white space, which the extension keeps as part of it, since it splits "
                                   "GroupNames at commas only\n" + Quoted(trimmed) + " has " +
                                   std::to_string(trimmedMembers) +
                                   (trimmedMembers > 0 ? " accounts: remove the white space around the comma in "
                                                         "GroupNames"
                                                       : " accounts too: no account is a member either way"));
    }

    void Aliases()
    {
        if (!gUserLibrary.VL_GetDBPath)
            return;
        char path[kAliasPathSize + 1];
        ReadServerFilePath(path, kAliasFileId);
        std::string file = path;
        aliasFile_ = file;
        if (file.empty()) {
            report_.aliases = 0;
            Warn("alias-file", "the user library reports an empty path for it: list shows no aliases");
            return;
        }
        FileFound found = Examine(file);
        if (!IsFileOrMissing(found)) {
            Warn("alias-file", WhatFollows(file, found, "list shows no aliases"));
            return;
        }
        AliasFileReport read;
        aliasIndex_ = AliasIndex(ReadAliasText(path, &read), &read);
        report_.aliases = static_cast<long>(aliasIndex_.Count());
        std::string detail = file + "\n" + std::to_string(aliasIndex_.Count()) + " aliases; ignored lines: " +
                             std::to_string(read.comments) + " comments, " + std::to_string(read.withoutEquals) +
                             " without \"=\" (blank ones included), " + std::to_string(read.wildcardOrMacro) +
                             " wildcard or macro aliases; " + std::to_string(read.cutOff) +
                             " lines cut off at the 511-byte line limit";
        if (read.readable)
            Ok("alias-file", detail);
        else
            Warn("alias-file", file + "\ncannot be read: list shows no aliases\nthe system says: " +
                                   WhyUnreadable(file));
    }

    // list sends each address as the mail server stores it, in its code
    // page; only its full names are converted to UTF-8.
    void Addresses()
    {
        if (report_.listed < 0)
            return;
        long accounts = 0, aliases = 0;
        std::string example;
        auto note = [&](std::string_view address) {
            if (example.empty())
                example = address;
        };
        for (const std::string& address : listed_) {
            std::string sent = LowerCasedAscii(address);
            if (HasHighByte(sent)) {
                ++accounts;
                note(sent);
            }
            aliasIndex_.ForEachAlias(sent, [&](std::string_view alias) {
                if (HasHighByte(alias)) {
                    ++aliases;
                    note(alias);
                }
            });
        }
        report_.nonAsciiAccounts = accounts;
        report_.nonAsciiAliases = aliases;
        if (accounts + aliases == 0) {
            Ok("addresses", "every address that list would send is ASCII");
            return;
        }
        Warn("addresses", "list would send " + std::to_string(accounts) + " account addresses and " +
                              std::to_string(aliases) + " aliases holding bytes above 0x7F, for example " +
                              Quoted(example) +
                              "\nlist sends addresses as the mail server stores them, in its code page, not in "
                              "UTF-8: a client that reads the answer as strict UTF-8 rejects the whole body; the "
                              "integrating application must send such an address back byte for byte as auth's user");
    }

    // When IniPath names no file, what the user library made of it shows in
    // the paths it reports.
    void NoteMainSettingsConsequences()
    {
        if (mainSettingsStep_ == kNoStep)
            return;
        auto reported = [](const std::string& path) { return path.empty() ? std::string("empty") : Quoted(path); };
        report_.steps[mainSettingsStep_].detail +=
            "\nthe user library, which may read its own paths from the same file, reports the settings file as " +
            reported(settingsFile_) + " and the alias file as " + reported(aliasFile_);
    }

    void Identity()
    {
        Ok("identity", "this program runs as " + CurrentAccount() +
                           "\nIIS loads the extension as the application pool's identity and reads files during "
                           "requests as the anonymous user (IUSR unless set otherwise)");
    }

    void AccountAccess()
    {
        AccessStep("access:program-folder", applicationDirectory_, AccessKind::kFolder,
                   "read the program folder");
        // The paths as the settings and alias steps asked the library for them.
        if (!report_.loads || !gUserLibrary.VL_GetDBPath)
            return;
        AccessStep("access:alias-file", aliasFile_, AccessKind::kRead, "read the alias file");
        AccessStep("access:settings-file-read", settingsFile_, AccessKind::kRead, "read the settings file");
        AccessStep("access:settings-file-write", settingsFile_, AccessKind::kSettingsWrite, "write the settings file");
    }

    void AccessStep(const char* step, const std::string& path, AccessKind kind, const char* what)
    {
        AccessAnswer answer = path.empty() ? AccessAnswer{Access::kUnknown, "the user library reports an empty path"}
                                           : AccountMay(options_.account, path, kind);
        std::string detail = options_.account + " " + AccessWords(answer, what);
        report_.Add(step, answer.access == Access::kAllowed ? Outcome::kOk : Outcome::kFailed, detail);
    }

    // The extension's answer when a check cannot run: it does not load, or
    // answers 500; or the doctor has no password to check.
    bool CheckCanRun(const char* step, bool bound, const std::string* password, std::string& result)
    {
        if (!report_.loads) {
            result = kNotLoaded;
            Fail(step, "not checked: the extension would not load");
            return false;
        }
        if (!bound) {
            result = kInternalError;
            Fail(step, "the extension answers 500: the user library lacks an entry point it needs");
            return false;
        }
        if (!password) {
            result = kNoPassword;
            Fail(step, "not checked: standard input gave no password for it (with --check-caller and "
                       "--check-auth, two lines: the caller's password first)");
            return false;
        }
        return true;
    }

    void CallerCheck()
    {
        if (!CheckCanRun("caller", BoundFor(gUserLibrary, kNeededForCallerCheck), passwords_.caller, report_.caller))
            return;
        const std::string& address = options_.checkCaller;
        AccountVerdict verdict = CheckCallerAccount(address.c_str(), passwords_.caller->c_str());
        report_.caller = CheckResultName(verdict);
        if (verdict == AccountVerdict::kAccepted)
            Ok("caller", address + " may call the extension");
        else
            Fail("caller", address + " may not call the extension (401): " + CheckResultWords(verdict) +
                               NoAccountsNote(verdict));
    }

    void AuthCheck()
    {
        if (!CheckCanRun("auth", BoundFor(gUserLibrary, kNeededForAuth), passwords_.auth, report_.auth))
            return;
        const std::string& address = options_.checkAuth;
        AccountVerdict verdict = CheckAuthAccount(address, *passwords_.auth);
        report_.auth = CheckResultName(verdict);
        if (verdict == AccountVerdict::kAccepted)
            Ok("auth", "auth would answer {\"succeeded\": true} for " + address);
        else
            Fail("auth", "auth would answer {\"succeeded\": false} for " + address + ": " + CheckResultWords(verdict) +
                             NoAccountsNote(verdict));
    }

    // An unknown account is no surprise when the library knows none at all.
    std::string NoAccountsNote(AccountVerdict verdict) const
    {
        return verdict == AccountVerdict::kNoSuchAccount && noAccounts_
                   ? "; the user library knows no account at all (see list)"
                   : "";
    }

    static constexpr size_t kNoStep = static_cast<size_t>(-1);

    const DoctorOptions& options_;
    const CheckPasswords& passwords_;
    Report report_;
    std::string applicationDirectory_;
    FileFound mainSettings_{FileKind::kFile, ""};
    size_t mainSettingsStep_ = kNoStep;
    std::string settingsFile_;
    FileFound settingsKind_{FileKind::kFile, ""};
    std::string aliasFile_;
    AliasIndex aliasIndex_;
    std::vector<std::string> listed_;
    bool noAccounts_ = false;
};

} // namespace

Report Diagnose(const DoctorOptions& options, const CheckPasswords& passwords)
{
    return Diagnosis(options, passwords).Run();
}
