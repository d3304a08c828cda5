#include "tests/userlib/server_layout.h"

#include <fstream>

#ifndef _WIN32
#include <dlfcn.h>
#include <cstdlib>
#endif

namespace {

// Every other type is served by a copy of the stand-in.
fs::path BuiltLibrary(const std::string& type)
{
    if (type == "NoFrozen" || type == "NoReload" || type == "NoGroupMember" || type == "Dependent")
        return (fs::path(PARTIAL_LIBRARY_DIR) / LibraryFileName(type)).make_preferred();
    return (fs::path(VLUSER_DIR) / LibraryFileName("")).make_preferred();
}

void WriteText(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

#ifdef _WIN32

void WriteKey(const fs::path&, const RegistryValues& values)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServerKey);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const auto& [name, value] : values)
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

void RemoveKey(const fs::path&)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServerKey);
}

#else

// The registry is the file that VELMORA_REGISTRY_FILE names.
void WriteRegistryFile(const fs::path& file, const std::string& text)
{
    WriteText(file, text);
    setenv("VELMORA_REGISTRY_FILE", file.c_str(), 1);
}

void WriteKey(const fs::path& file, const RegistryValues& values)
{
    WriteRegistryFile(file, RegistryFileText(values));
}

void RemoveKey(const fs::path& file)
{
    WriteRegistryFile(file, "REGEDIT4\n");
}

#endif

} // namespace

std::string LibraryFileName(const std::string& type)
{
#ifdef _WIN32
    return "VLUser" + type + ".dll";
#else
    return "VLUser" + type + ".so";
#endif
}

fs::path SampleDirectory()
{
    return fs::path(SAMPLE_DIR).make_preferred();
}

ServerLayout::ServerLayout()
{
    fs::create_directories(appDirectory);
}

ServerLayout::~ServerLayout()
{
    RemoveRegistryKey();
}

void ServerLayout::WriteRegistry(const RegistryValues& values)
{
    WriteKey(root / "registry.reg", values);
}

void ServerLayout::WriteRegistry(const fs::path& appPath, const fs::path& iniPath)
{
    WriteRegistry({{"AppPath", appPath.string()}, {"IniPath", iniPath.string()}});
}

void ServerLayout::RemoveRegistryKey()
{
    RemoveKey(root / "registry.reg");
}

void ServerLayout::WriteMainSettings(const fs::path& at, const std::string& libraryType)
{
    WriteMainSettings(at, libraryType, accounts);
}

void ServerLayout::WriteMainSettings(const fs::path& at, const std::string& libraryType,
                                     const fs::path& accountsFile)
{
    MainSettings text;
    text.libraryType = libraryType;
    text.accounts = accountsFile.string();
    text.aliasFile = aliases.string();
    text.settingsFile = settings.string();
    WriteText(at, MainSettingsText(text));
}

void ServerLayout::WriteAccounts(const std::string& text) const
{
    WriteText(accounts, text);
}

fs::path ServerLayout::InstallLibrary(const fs::path& directory, const std::string& type) const
{
    fs::create_directories(directory);
    fs::path copy = directory / LibraryFileName(type);
    fs::copy_file(BuiltLibrary(type), copy, fs::copy_options::overwrite_existing);
    return copy;
}

fs::path ServerLayout::PathOfLength(size_t length) const
{
    std::string path = root.string();
    while (path.size() < length) {
        size_t room = length - path.size() - 1;
        path += static_cast<char>(fs::path::preferred_separator);
        path += std::string(room > 100 ? 50 : room, 'd');
    }
    fs::create_directories(fs::path(path).parent_path());
    return path;
}

#ifdef _WIN32

bool IsLoaded(const fs::path& library)
{
    return GetModuleHandleA(library.string().c_str()) != nullptr;
}

void* LoadedExport(const fs::path& library, const char* name)
{
    HMODULE module = GetModuleHandleA(library.string().c_str());
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

#else

bool IsLoaded(const fs::path& library)
{
    void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

void* LoadedExport(const fs::path& library, const char* name)
{
    void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return nullptr;
    // The extension's own reference keeps the library, and the export, in place.
    void* entry = dlsym(handle, name);
    dlclose(handle);
    return entry;
}

#endif

int32_t DevCount(const fs::path& library, const char* name)
{
    auto count = reinterpret_cast<int32_t (*)()>(LoadedExport(library, name));
    return count ? count() : -1;
}
