// What each of the extension's load steps saw, recorded while the steps run
// with the extension's own code. Nothing here is worded: the report's steps
// are written from these facts afterwards (load_steps.h).
#pragma once

#include "doctor/system.h"
#include "userlib/loading.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// One value of the mail server's key as the extension read it.
struct ServerValueFinding {
    ServerValue result;
    std::string value; // the buffer as read, up to its first zero
    DWORD type;        // as the registry stores it; REG_NONE without a key
};

struct LibraryPathFinding {
    std::string path;
    bool fits;
};

struct LibraryLoadFinding {
    std::string path;
    bool loaded;
    // When it did not load: the system's reason, taken at once, and whether
    // anything is there.
    LoadFailure failure;
    bool exists;
};

struct EntryPointFinding {
    const char* name;
    bool present;
    unsigned neededFor;
};

// The settings file as the user library names it.
struct SettingsFileFinding {
    std::string path;
    FileFound found{FileKind::kMissing, ""};
    // What it holds; nothing when it was not read.
    std::optional<GroupNamesSetting> setting;
    bool readable = false;
    bool writable = false;
    std::string whyUnreadable;  // when the setting is kUnreadable
    std::string groupNames;     // the whole value, when the setting is kPresent
};

struct LoadFindings {
    // Where the registry is a file (Linux): its path, empty when none is
    // named, and what is there. A registry file that is no file the
    // extension can read stops the doctor before loading.
    std::optional<std::string> registryFile;
    FileFound registryFound{FileKind::kMissing, ""};
    std::string registryDescription;
    // Each step's finding is there when the step ran.
    std::optional<ServerValueFinding> appPath;
    std::string keyIn32BitView; // where the key is, when it is only there
    std::optional<ServerValueFinding> iniPath;
    FileFound mainSettings{FileKind::kMissing, ""}; // what a read IniPath names
    std::optional<std::string> libraryType;
    std::optional<LibraryPathFinding> libraryPath;
    std::optional<LibraryLoadFinding> load;
    std::vector<EntryPointFinding> entryPoints;
    std::optional<bool> reloaded;
    std::optional<bool> loadTested;
    bool loads = false;
    // Once loaded: nothing when the user library has no VL_GetDBPath.
    std::optional<SettingsFileFinding> settingsFile;
};

// Runs the extension's load steps, writing nothing, and records what each
// saw. The user library stays loaded when they pass.
LoadFindings FindWhatLoadingSees();

// Told what loading has seen so far after each load step, so that a report
// can show every step before a call into the user library that never returns.
void ListenToLoadProgress(std::function<void(const LoadFindings&)> listener);
