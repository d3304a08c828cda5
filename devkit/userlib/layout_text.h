// A mail server's layout as text: the registry file that names the main
// settings file (on Linux, where the registry is a file), and the main
// settings file that names the rest, as the extension and the stand-in
// library read them. Every test and benchmark that lays out a server writes
// them through here.
#pragma once

#include <string>
#include <utility>
#include <vector>

inline constexpr char kServerKey[] = "Software\\Norvane\\Velmora";

using RegistryValues = std::vector<std::pair<std::string, std::string>>;

// A registry file whose only key is the mail server's, with these string values.
inline std::string RegistryFileText(const RegistryValues& values)
{
    auto quoted = [](const std::string& value) {
        std::string text = "\"";
        for (char c : value) {
            if (c == '\\' || c == '"')
                text += '\\';
            text += c;
        }
        return text + '"';
    };
    std::string text = std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\") + kServerKey + "]\r\n";
    for (const auto& [name, value] : values)
        text += quoted(name) + "=" + quoted(value) + "\r\n";
    return text;
}

struct MainSettings {
    std::string libraryType;
    // The generated servers of the benchmarks give a count of accounts under
    // a key of their own instead.
    std::string accountsKey = "Accounts";
    std::string accounts;
    std::string aliasFile;
    std::string settingsFile;
};

inline std::string MainSettingsText(const MainSettings& settings)
{
    return "[Advanced]\r\nUserDllType=" + settings.libraryType + "\r\n\r\n[Directories]\r\n" + settings.accountsKey +
           "=" + settings.accounts + "\r\nAliasFile=" + settings.aliasFile + "\r\nSettingsFile=" +
           settings.settingsFile + "\r\n";
}
