#include "doctor/load_findings.h"

#include "doctor/step_text.h"
#include "platform/win32.h"

#include <cstring>
#include <filesystem>
#include <memory>

namespace {

bool Exists(const std::string& path)
{
    std::error_code ignored;
    return !path.empty() && std::filesystem::exists(path, ignored);
}

// GroupNames whole, however long: the extension reads only its first part,
// which the report compares with it.
std::string WholeGroupNames(const std::string& settingsPath)
{
    constexpr DWORD kWhole = 64 * 1024;
    std::unique_ptr<char[]> value(new char[kWhole]());
    GetPrivateProfileStringA(kSettingsSection, kGroupNamesKey, "", value.get(), kWhole, settingsPath.c_str());
    return value.get();
}

std::function<void(const LoadFindings&)> gProgressListener;

class LoadRecorder final : public LoadObserver {
public:
    explicit LoadRecorder(LoadFindings& findings) : findings_(findings) {}

    // Both paths the extension asks about are settings files.
    bool SafeToRead(const char* path) override
    {
        return path[0] != '\0' && IsFileOrMissing(ExamineSettingsFile(path));
    }

    void ServerValueRead(const char* name, ServerValue result, const char* value, DWORD type) override
    {
        ServerValueFinding found{result, value, type};
        if (strcmp(name, "AppPath") == 0) {
            findings_.appPath = found;
            if (result == ServerValue::kNoKey)
                findings_.keyIn32BitView = ServerKeyIn32BitView();
        } else {
            findings_.iniPath = found;
            if (result == ServerValue::kRead)
                findings_.mainSettings = ExamineSettingsFile(value);
        }
        Progressed();
    }

    void LibraryTypeRead(const UserLibraryLocation& location, bool) override
    {
        findings_.libraryType = location.libraryType;
        Progressed();
    }

    void LibraryPathComposed(const UserLibraryLocation& location, bool fits) override
    {
        findings_.libraryPath = LibraryPathFinding{location.libraryPath, fits};
        Progressed();
    }

    void LibraryLoaded(const char* libraryPath, bool loaded) override
    {
        LibraryLoadFinding found{libraryPath, loaded, {}, true};
        if (!loaded) {
            // Before anything else replaces the system's error.
            found.failure = ExplainLoadFailure(libraryPath);
            found.exists = Exists(libraryPath);
        }
        findings_.load = found;
        Progressed();
    }

    void EntryPointsBound(const BindingTable& table) override
    {
        ForEachEntryPoint(table, [&](auto slot, const char* name, unsigned neededFor) {
            findings_.entryPoints.push_back({name, slot != nullptr, neededFor});
        });
        Progressed();
    }

    void UsersReloaded(bool reloaded) override
    {
        findings_.reloaded = reloaded;
        Progressed();
    }

    void LoadTested(bool passed) override
    {
        findings_.loadTested = passed;
        Progressed();
    }

    void SettingsFound(const char* settingsPath, std::optional<GroupNamesSetting> setting) override
    {
        if (!settingsPath)
            return; // nothing more seen
        SettingsFileFinding file;
        file.path = settingsPath;
        if (!file.path.empty()) {
            file.found = ExamineSettingsFile(file.path);
            file.setting = setting;
            bool exists = file.found.kind == FileKind::kFile;
            file.readable = exists && MayRead(file.path);
            file.writable = exists && MayWrite(file.path);
            if (setting == GroupNamesSetting::kUnreadable)
                file.whyUnreadable = WhyUnreadable(file.path);
            if (setting == GroupNamesSetting::kPresent)
                file.groupNames = WholeGroupNames(file.path);
        }
        findings_.settingsFile = file;
        Progressed();
    }

private:
    void Progressed() const
    {
        if (gProgressListener)
            gProgressListener(findings_);
    }

    LoadFindings& findings_;
};

} // namespace

void ListenToLoadProgress(std::function<void(const LoadFindings&)> listener)
{
    gProgressListener = std::move(listener);
}

LoadFindings FindWhatLoadingSees()
{
    LoadFindings findings;
    findings.registryDescription = RegistryDescription();
    findings.registryFile = RegistryFilePath();
    if (findings.registryFile && !findings.registryFile->empty()) {
        // A device or a pipe in the registry file's place would never finish reading.
        findings.registryFound = ExamineSettingsFile(*findings.registryFile);
        if (!IsFileOrMissing(findings.registryFound))
            return findings;
    }
    LoadRecorder recorder(findings);
    findings.loads = LoadExtension(&recorder);
    return findings;
}
