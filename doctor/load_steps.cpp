#include "doctor/load_steps.h"

#include "doctor/load_messages.h"
#include "doctor/step_text.h"

#include <algorithm>

namespace {

std::string ValueWithLength(const std::string& value)
{
    return Quoted(value) + " (" + std::to_string(value.size()) + " of the " +
           std::to_string(kRegistryValueLimit - 1) + " characters the extension reads)";
}

bool HoldsUnexpandedName(const std::string& value)
{
    size_t first = value.find('%');
    return first != std::string::npos && value.find('%', first + 1) != std::string::npos;
}

// The extension takes every value of its key for a string, whatever its
// type. Nothing when the value is one it can use as it is, or there is none.
std::optional<std::string> TypeWords(const char* name, const ServerValueFinding& value)
{
    if (value.result == ServerValue::kNoKey || value.result == ServerValue::kMissing)
        return std::nullopt;
    const std::string asBytes = ", not a string: the extension takes its bytes for the text of a path";
    std::string is = std::string(name) + " is a";
    switch (value.type) {
    case REG_SZ: return std::nullopt;
    case REG_EXPAND_SZ:
        if (!HoldsUnexpandedName(value.value))
            return std::nullopt;
        return is + " REG_EXPAND_SZ value holding %...%, which the extension does not expand: it takes the value "
                    "as written";
    case REG_MULTI_SZ: return is + " REG_MULTI_SZ value: the extension takes its first string alone";
    case REG_DWORD: return is + " REG_DWORD value" + asBytes;
    case REG_BINARY: return is + " REG_BINARY value" + asBytes;
    default: return is + " value of type " + std::to_string(value.type) + asBytes;
    }
}

// A value read from another type than a plain string, which fails when what
// the extension made of it failed.
Step WithValueType(const char* name, const ServerValueFinding& value, bool failed, Step step)
{
    std::optional<std::string> words = TypeWords(name, value);
    if (!words)
        return step;
    step.outcome = std::max(step.outcome, failed ? Outcome::kFailed : Outcome::kWarning);
    step.detail = *words + "\n" + step.detail;
    return step;
}

// AppPath or IniPath when no value the extension can take was read.
Step ValueNotReadStep(const char* name, const ServerValueFinding& value)
{
    std::string what = value.result == ServerValue::kEmpty     ? kValueEmpty
                       : value.result == ServerValue::kTooLong ? kValueTooLong
                                                               : kValueMissing;
    return WithValueType(name, value, true, Fail(name, std::string(name) + " is " + what));
}

Step RegistryFileStep(const LoadFindings& load)
{
    return Fail("registry", "the registry file " +
                                WhatFollows(*load.registryFile, load.registryFound,
                                            "it finds no key, and refuses to load") +
                                "\n" + load.registryDescription);
}

Step RegistryStep(const LoadFindings& load)
{
    if (load.appPath->result != ServerValue::kNoKey)
        return Ok("registry", std::string("HKEY_LOCAL_MACHINE\\") + kServerKeyPath + " found\n" +
                                  load.registryDescription);
    if (load.keyIn32BitView.empty())
        return Fail("registry", std::string(kNoServerKey) + "\n" + load.registryDescription);
    return Fail("registry", std::string(kServerIs32Bit) + "\nfound only in " + load.keyIn32BitView +
                                "\nthe extension reads " + load.registryDescription);
}

// The library's path is composed from AppPath: the library loaded from it
// or not.
Step AppPathStep(const ServerValueFinding& appPath, bool libraryLoaded)
{
    if (appPath.result != ServerValue::kRead)
        return ValueNotReadStep("AppPath", appPath);
    return WithValueType("AppPath", appPath, !libraryLoaded, Ok("AppPath", ValueWithLength(appPath.value)));
}

// IniPath names the main settings file, from which the extension reads the
// library's type; a user library may read its own paths there too, and when
// IniPath names no file, what it made of that shows in the paths it reports.
Step IniPathStep(const ServerValueFinding& iniPath, const FileFound& mainSettings, const LibraryFiles* files)
{
    if (iniPath.result != ServerValue::kRead)
        return ValueNotReadStep("IniPath", iniPath);
    std::string detail = ValueWithLength(iniPath.value);
    if (mainSettings.kind == FileKind::kFile)
        return WithValueType("IniPath", iniPath, false, Ok("IniPath", detail));
    if (mainSettings.kind == FileKind::kMissing)
        detail += "\nthe main settings file " + iniPath.value + " does not exist";
    else
        detail += "\nthe main settings file " +
                  WhatFollows(iniPath.value, mainSettings, "everything read from it is empty");
    detail += "\n[Advanced] UserDllType reads as empty";
    if (files) {
        auto reported = [](const std::string& path) { return path.empty() ? std::string("empty") : Quoted(path); };
        detail += "\nthe user library, which may read its own paths from the same file, reports the settings file "
                  "as " + reported(files->settings) + " and the alias file as " + reported(files->alias);
    }
    return WithValueType("IniPath", iniPath, false, Warn("IniPath", detail));
}

// The doctor reads the type only where nothing could block: the
// extension's reader gives an empty type for a missing file.
Step UserDllTypeStep(const std::string& settingsPath, const std::string& libraryType, const FileFound& mainSettings)
{
    if (mainSettings.kind == FileKind::kFile)
        return Ok("UserDllType", "main settings file " + settingsPath + "\n[Advanced] UserDllType = " +
                                     Quoted(libraryType));
    std::string file = mainSettings.kind == FileKind::kMissing    ? settingsPath + " does not exist"
                       : mainSettings.kind == FileKind::kUnknown  ? settingsPath + " cannot be examined"
                       : mainSettings.kind == FileKind::kTooLarge ? WhatItIs(settingsPath, mainSettings)
                                                                  : settingsPath + " is no file";
    return Warn("UserDllType", "[Advanced] UserDllType = " + Quoted(libraryType) +
                                   ": read as empty, the main settings file " + file + " (see IniPath)");
}

Step LibraryPathStep(const LibraryPathFinding& path)
{
    if (!path.fits)
        return Fail("library-path", kLibraryPathTooLong);
    return Ok("library-path", path.path + " (" + std::to_string(path.path.size()) + " of " +
                                  std::to_string(kLibraryPathSize - 1) + " characters)");
}

Step LoadStep(const LibraryLoadFinding& load)
{
    if (load.loaded)
        return Ok("load", "loaded " + load.path);
    std::string cause = !load.failure.cause.empty() ? load.failure.cause
                        : !load.exists              ? kLibraryNotThere
                                                    : kLibraryUnloadable;
    return Fail("load", cause + "\n" + load.path + "\nthe system says: " + load.failure.osText);
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

Step EntryPointStep(const EntryPointFinding& entryPoint)
{
    if (entryPoint.present)
        return Ok(entryPoint.name, "present");
    if ((entryPoint.neededFor & (kNeededToLoad | kNeededForLoadTest)) != 0)
        return Fail(entryPoint.name, "missing: " + CostOfMissing(entryPoint.neededFor));
    return Warn(entryPoint.name, "missing: " + CostOfMissing(entryPoint.neededFor));
}

Step ReloadStep(bool reloaded)
{
    if (reloaded)
        return Ok("reload", "VL_ReloadUsers called once, as the extension does at load");
    return Fail("reload", kNoReloadUsers);
}

Step LoadTestStep(bool passed)
{
    if (passed)
        return Ok("load-test", "VL_GetIsFrozen is there: the extension would load");
    return Fail("load-test", kNoGetIsFrozen);
}

Step SettingsFileStep(const std::optional<SettingsFileFinding>& settings)
{
    if (!settings)
        return Warn("settings-file", "not asked for: VL_GetDBPath is missing");
    const SettingsFileFinding& file = *settings;
    if (file.path.empty())
        return Warn("settings-file", "the user library reports an empty path for it: there is no file to read "
                                     "GroupNames from or to keep it in, so the group filter is unknown and list "
                                     "answers 500");
    if (!file.setting)
        return Warn("settings-file",
                    WhatFollows(file.path, file.found, "it leaves it untouched at load, and list answers 500"));
    bool exists = file.found.kind == FileKind::kFile;
    std::string detail = file.path + (exists ? "" : " (does not exist)") + "\nreadable: " +
                         (file.readable ? "yes" : "no") + ", writable: " + (file.writable ? "yes" : "no");
    if (*file.setting == GroupNamesSetting::kUnreadable)
        return Warn("settings-file", detail + "\nit cannot be read now: the extension leaves it untouched at load, "
                                              "and list answers 500 until it can be read\nthe system says: " +
                                         file.whyUnreadable);
    if (*file.setting == GroupNamesSetting::kAbsent && !file.writable && exists)
        return Warn("settings-file", detail + "\nthe extension cannot add GroupNames to it");
    return Ok("settings-file", detail);
}

Step GroupNamesStep(const SettingsFileFinding& file)
{
    if (*file.setting == GroupNamesSetting::kAbsent)
        return Ok("GroupNames", std::string("[") + kSettingsSection +
                                    "] GroupNames is absent: the extension would add it empty on its first load "
                                    "(the doctor writes nothing); every account is listed");
    std::string detail = std::string("[") + kSettingsSection + "] GroupNames = " + Quoted(file.groupNames);
    if (file.groupNames.size() >= kGroupNamesSize)
        return Warn("GroupNames", detail + "\n" + std::to_string(file.groupNames.size()) +
                                      " characters; the extension reads only the first " +
                                      std::to_string(kGroupNamesSize - 1));
    return Ok("GroupNames", detail);
}

} // namespace

std::vector<Step> LoadSteps(const LoadFindings& load, const LibraryFiles* files)
{
    std::vector<Step> steps;
    if (!IsFileOrMissing(load.registryFound)) {
        steps.push_back(RegistryFileStep(load));
        return steps;
    }
    steps.push_back(RegistryStep(load));
    if (load.appPath->result != ServerValue::kNoKey)
        steps.push_back(AppPathStep(*load.appPath, load.load && load.load->loaded));
    if (load.iniPath)
        steps.push_back(IniPathStep(*load.iniPath, load.mainSettings, files));
    if (load.libraryType)
        steps.push_back(UserDllTypeStep(load.iniPath->value, *load.libraryType, load.mainSettings));
    if (load.libraryPath)
        steps.push_back(LibraryPathStep(*load.libraryPath));
    if (load.load)
        steps.push_back(LoadStep(*load.load));
    for (const EntryPointFinding& entryPoint : load.entryPoints)
        steps.push_back(EntryPointStep(entryPoint));
    if (load.reloaded)
        steps.push_back(ReloadStep(*load.reloaded));
    if (load.loadTested)
        steps.push_back(LoadTestStep(*load.loadTested));
    if (!load.loads)
        return steps;
    steps.push_back(SettingsFileStep(load.settingsFile));
    const std::optional<SettingsFileFinding>& settings = load.settingsFile;
    if (settings && settings->setting && *settings->setting != GroupNamesSetting::kUnreadable)
        steps.push_back(GroupNamesStep(*settings));
    return steps;
}
