#include "doctor/diagnosis.h"

#include "commands/alias_index.h"
#include "commands/auth_command.h"
#include "commands/list_command.h"
#include "doctor/load_messages.h"
#include "doctor/system.h"
#include "platform/win32.h"
#include "request/caller_authentication.h"
#include "userlib/account_guards.h"
#include "userlib/settings.h"
#include "userlib/user_library.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <type_traits>

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

const char* VerdictName(AccountVerdict verdict)
{
    switch (verdict) {
    case AccountVerdict::kAccepted: return "ok";
    case AccountVerdict::kNotAnAddress: return "not-an-address";
    case AccountVerdict::kEmptyPassword: return "empty-password";
    case AccountVerdict::kNoSuchAccount: return "no-such-account";
    case AccountVerdict::kDisabled: return "disabled";
    case AccountVerdict::kNoPermission: return "no-permission-4";
    case AccountVerdict::kFrozen: return "frozen";
    case AccountVerdict::kWrongPassword: return "wrong-password";
    case AccountVerdict::kPasswordNotInCodePage: return "password-not-in-code-page";
    }
    return "";
}

const char* VerdictWords(AccountVerdict verdict)
{
    switch (verdict) {
    case AccountVerdict::kAccepted: return "accepted";
    case AccountVerdict::kNotAnAddress: return "the address holds no \"@\"";
    case AccountVerdict::kEmptyPassword: return "the password is empty";
    case AccountVerdict::kNoSuchAccount: return "no such account";
    case AccountVerdict::kDisabled: return "the account is disabled";
    case AccountVerdict::kNoPermission: return "the account lacks web-configuration permission 4";
    case AccountVerdict::kFrozen: return "the account is frozen";
    case AccountVerdict::kWrongPassword: return "wrong password";
    case AccountVerdict::kPasswordNotInCodePage:
        return "the password holds characters that the server's code page cannot hold";
    }
    return "";
}

void Placeholder() {}

// A table where only the named entry point is missing.
BindingTable AllBut(const char* missing)
{
    BindingTable table{};
    ForEachEntryPoint(table, [&](auto& slot, const char* name) {
        if (strcmp(name, missing) != 0)
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(&Placeholder);
    });
    return table;
}

// What the extension loses without this entry point, in its own terms.
std::string CostOfMissing(const char* name)
{
    BindingTable table = AllBut(name);
    std::string cost;
    auto add = [&](bool lost, const char* what) {
        if (lost)
            cost += (cost.empty() ? "" : "; ") + std::string(what);
    };
    add(!CanReloadUsers(table) || !PassesLoadTest(table), "the extension refuses to load");
    add(!CallerCheckBound(table), "every request answers 500 (the caller check needs it)");
    add(!ListCommandBound(table), "list answers 500");
    add(!AuthCommandBound(table), "auth answers 500");
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

class Diagnosis {
public:
    Diagnosis(const DoctorOptions& options, const CheckPasswords& passwords)
        : options_(options), passwords_(passwords)
    {
    }

    Report Run()
    {
        report_.loads = Locate() && Load();
        if (report_.loads) {
            Settings();
            Accounts();
            Aliases();
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

    bool Locate()
    {
        ServerValue appPath = ReadServerValue("AppPath", location_.applicationDirectory);
        if (appPath == ServerValue::kNoKey) {
            bool only32 = ServerKeyOnlyIn32BitView();
            Fail("registry", std::string(only32 ? kServerIs32Bit : kNoServerKey) + "\n" + RegistryDescription());
            return false;
        }
        Ok("registry", std::string("HKEY_LOCAL_MACHINE\\") + kServerKeyPath + " found\n" + RegistryDescription());
        return ServerValueStep("AppPath", appPath, location_.applicationDirectory) &&
               ServerValueStep("IniPath", ReadServerValue("IniPath", location_.settingsPath),
                               location_.settingsPath) &&
               LibraryPath();
    }

    bool ServerValueStep(const char* name, ServerValue result, const char* value)
    {
        switch (result) {
        case ServerValue::kRead:
            Ok(name, Quoted(value) + " (" + std::to_string(strlen(value)) + " of the " +
                         std::to_string(kRegistryValueLimit - 1) + " characters the extension reads)");
            return true;
        case ServerValue::kNoKey:
        case ServerValue::kMissing: Fail(name, std::string(name) + " is " + kValueMissing); break;
        case ServerValue::kEmpty: Fail(name, std::string(name) + " is " + kValueEmpty); break;
        case ServerValue::kTooLong: Fail(name, std::string(name) + " is " + kValueTooLong); break;
        }
        return false;
    }

    bool LibraryPath()
    {
        ReadLibraryType(location_);
        std::string settings = location_.settingsPath;
        Ok("UserDllType", "main settings file " + settings +
                              (Exists(settings) ? "" : " (not found: the type reads as empty)") +
                              "\n[Advanced] UserDllType = " + Quoted(location_.libraryType));
        if (!ComposeLibraryPath(location_)) {
            Fail("library-path", kLibraryPathTooLong);
            return false;
        }
        Ok("library-path", std::string(location_.libraryPath) + " (" + std::to_string(strlen(location_.libraryPath)) +
                               " of " + std::to_string(kLibraryPathSize - 1) + " characters)");
        return true;
    }

    bool Load()
    {
        if (!LoadUserLibrary(location_.libraryPath)) {
            LoadFailure failure = ExplainLoadFailure(location_.libraryPath);
            std::string cause = !failure.cause.empty()                ? failure.cause
                                : !Exists(location_.libraryPath) ? kLibraryNotThere
                                                                      : kLibraryUnloadable;
            Fail("load", cause + "\n" + location_.libraryPath + "\nthe system says: " + failure.osText);
            return false;
        }
        Ok("load", std::string("loaded ") + location_.libraryPath);
        BindEntryPoints();
        ForEachEntryPoint(gUserLibrary, [&](auto slot, const char* name) { EntryPointStep(slot != nullptr, name); });
        if (!StartUserLibrary()) {
            Fail("reload", kNoReloadUsers);
            return false;
        }
        Ok("reload", "VL_ReloadUsers called once, as the extension does at load");
        if (!PassesLoadTest(gUserLibrary)) {
            Fail("load-test", kNoGetIsFrozen);
            return false;
        }
        Ok("load-test", "VL_GetIsFrozen is there: the extension would load");
        return true;
    }

    void EntryPointStep(bool present, const char* name)
    {
        if (present)
            Ok(name, "present");
        else if (!CanReloadUsers(AllBut(name)) || !PassesLoadTest(AllBut(name)))
            Fail(name, "missing: " + CostOfMissing(name));
        else
            Warn(name, "missing: " + CostOfMissing(name));
    }

    void Settings()
    {
        if (!gUserLibrary.VL_GetDBPath) {
            Warn("settings-file", "not asked for: VL_GetDBPath is missing");
            return;
        }
        SettingsPath path;
        ReadServerFilePath(path, kSettingsFileId);
        std::string file = path;
        // A directory in the file's place exists, but no profile reader reads it.
        std::error_code ignored;
        bool exists = Exists(file), isFile = exists && fs::is_regular_file(file, ignored);
        bool readable = isFile && MayRead(file), writable = isFile && MayWrite(file);
        std::string detail = file + (exists ? "" : " (does not exist)") + "\nreadable: " +
                             (readable ? "yes" : "no") + ", writable: " + (writable ? "yes" : "no");
        GroupNamesSetting setting = FindGroupNamesSetting(path);
        if (setting == GroupNamesSetting::kUnreadable) {
            Warn("settings-file", detail + "\nit cannot be read now: the extension leaves it untouched at load, "
                                           "and list answers 500 until it can be read");
            return;
        }
        if (setting == GroupNamesSetting::kAbsent && !writable && exists)
            Warn("settings-file", detail + "\nthe extension cannot add GroupNames to it");
        else
            Ok("settings-file", detail);
        GroupNamesStep(path, setting == GroupNamesSetting::kPresent);
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

    void Accounts()
    {
        if (!ListCommandBound(gUserLibrary)) {
            Warn("list", "list answers 500: the user library lacks an entry point it needs");
            return;
        }
        std::vector<std::string> addresses;
        AccountSearch search;
        if (!search.Started()) {
            Warn("list", "the user library's VL_FindFirst finds no account: list answers 500");
            return;
        }
        do {
            char address[kEmailBufferSize + 1] = {};
            gUserLibrary.VL_GetEmail(search.Current(), address);
            addresses.emplace_back(address);
        } while (search.Next());

        GroupNameList groups;
        if (!ReadGroupNames(groups)) {
            Warn("list", "the settings file cannot be read, so the group filter is unknown: list answers 500");
            return;
        }
        for (const std::string& group : groups)
            GroupStep(group, addresses);
        long listed = 0;
        for (const std::string& address : addresses)
            listed += IsListed(address.c_str(), groups);
        report_.accounts = static_cast<long>(addresses.size());
        report_.listed = listed;
        Ok("list", "list would show " + std::to_string(listed) + " of " + std::to_string(addresses.size()) +
                       " accounts" + (groups.empty() ? " (no group names: every account but the reserved ones)" : ""));
    }

    void GroupStep(const std::string& group, const std::vector<std::string>& addresses)
    {
        long members = 0;
        for (const std::string& address : addresses)
            members += gUserLibrary.VL_GroupFindMember(address.c_str(), group.c_str()) != 0;
        std::string detail = Quoted(group) + ": " + std::to_string(members) + " accounts";
        if (members == 0)
            Warn("group:" + group, detail + "; no account is a member, so this name lists nobody");
        else
            Ok("group:" + group, detail);
    }

    void Aliases()
    {
        if (!gUserLibrary.VL_GetDBPath)
            return;
        char path[kAliasPathSize + 1];
        ReadServerFilePath(path, kAliasFileId);
        AliasFileReport read;
        AliasIndex index(ReadAliasText(path, &read), &read);
        report_.aliases = static_cast<long>(index.Count());
        std::string detail = std::string(path) + "\n" + std::to_string(index.Count()) + " aliases; ignored lines: " +
                             std::to_string(read.comments) + " comments, " + std::to_string(read.withoutEquals) +
                             " without \"=\" (blank ones included), " + std::to_string(read.wildcardOrMacro) +
                             " wildcard or macro aliases; " + std::to_string(read.cutOff) +
                             " lines cut off at the 511-byte line limit";
        if (read.readable)
            Ok("alias-file", detail);
        else
            Warn("alias-file", std::string(path) + "\ncannot be read: list shows no aliases");
    }

    void Identity()
    {
        Ok("identity", "this program runs as " + CurrentAccount() +
                           "\nIIS loads the extension as the application pool's identity and reads files during "
                           "requests as the anonymous user (IUSR unless set otherwise)");
    }

    void AccountAccess()
    {
        const std::string& account = options_.account;
        AccessStep("access:program-folder", AccountMay(account, location_.applicationDirectory, AccessKind::kFolder),
                   "read the program folder");
        if (!report_.loads || !gUserLibrary.VL_GetDBPath)
            return;
        char aliases[kAliasPathSize + 1];
        ReadServerFilePath(aliases, kAliasFileId);
        AccessStep("access:alias-file", AccountMay(account, aliases, AccessKind::kRead), "read the alias file");
        SettingsPath settings;
        ReadServerFilePath(settings, kSettingsFileId);
        AccessStep("access:settings-file-read", AccountMay(account, settings, AccessKind::kRead),
                   "read the settings file");
        AccessStep("access:settings-file-write", AccountMay(account, settings, AccessKind::kWrite),
                   "write the settings file");
    }

    void AccessStep(const char* step, const AccessAnswer& answer, const char* what)
    {
        std::string detail = options_.account + " " + AccessWords(answer, what);
        report_.Add(step, answer.access == Access::kAllowed ? Outcome::kOk : Outcome::kFailed, detail);
    }

    // The extension's answer when a check cannot run: it does not load, or
    // answers 500.
    bool CheckCanRun(const char* step, bool bound, std::string& result)
    {
        if (!report_.loads) {
            result = "not-loaded";
            Fail(step, "not checked: the extension would not load");
            return false;
        }
        if (!bound) {
            result = "internal-error";
            Fail(step, "the extension answers 500: the user library lacks an entry point it needs");
            return false;
        }
        return true;
    }

    void CallerCheck()
    {
        if (!CheckCanRun("caller", CallerCheckBound(gUserLibrary), report_.caller))
            return;
        const std::string& address = options_.checkCaller;
        AccountVerdict verdict = CheckCallerAccount(address.c_str(), passwords_.caller->c_str());
        report_.caller = VerdictName(verdict);
        if (verdict == AccountVerdict::kAccepted)
            Ok("caller", address + " may call the extension");
        else
            Fail("caller", address + " may not call the extension (401): " + VerdictWords(verdict));
    }

    void AuthCheck()
    {
        if (!CheckCanRun("auth", AuthCommandBound(gUserLibrary), report_.auth))
            return;
        const std::string& address = options_.checkAuth;
        AccountVerdict verdict = CheckAuthAccount(address, *passwords_.auth);
        report_.auth = VerdictName(verdict);
        if (verdict == AccountVerdict::kAccepted)
            Ok("auth", "auth would answer {\"succeeded\": true} for " + address);
        else
            Fail("auth", "auth would answer {\"succeeded\": false} for " + address + ": " + VerdictWords(verdict));
    }

    const DoctorOptions& options_;
    const CheckPasswords& passwords_;
    Report report_;
    UserLibraryLocation location_;
};

} // namespace

Report Diagnose(const DoctorOptions& options, const CheckPasswords& passwords)
{
    return Diagnosis(options, passwords).Run();
}
