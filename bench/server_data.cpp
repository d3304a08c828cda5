#include "bench/server_data.h"

#include <algorithm>
#include "devkit/userlib/layout_text.h"

#include <fstream>
#include <numeric>
#include <random>
#include <vector>

namespace {

std::string Write(const std::string& directory, const std::string& name, const std::string& text)
{
    std::string path = directory + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string AccountLines(size_t accounts)
{
    std::string text = std::string(kCallerAddress) + " | Velmora System | " + kCallerPassword + " | 0 | 0 | 4 |\n";
    for (size_t i = 0; i < accounts; ++i)
        text += AccountAddress(i) + " | B\\xE9nch User " + std::to_string(i) + " | " + AccountPassword(i) +
                " | 0 | 0 | | " + (i % 2 ? "Support" : "Sales") + "\n";
    return text;
}

std::string AliasLines(size_t accounts)
{
    std::vector<size_t> order(accounts);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(20240601));
    std::string text;
    for (size_t i : order)
        text += "alias" + std::to_string(i) + "@example.com = " + AccountAddress(i) + "\n";
    return text;
}

} // namespace

std::string AccountAddress(size_t index)
{
    return "user" + std::to_string(index) + "@example.com";
}

std::string AccountPassword(size_t index)
{
    return "pass-" + std::to_string(index);
}

ServerData WriteServerData(const std::string& directory, size_t accounts, const std::string& libraryDirectory)
{
    ServerData data;
    data.accounts = accounts;
    std::string accountFile = Write(directory, "Accounts.txt", AccountLines(accounts));
    data.aliasFile = Write(directory, "Aliases.txt", AliasLines(accounts));
    std::string settingsFile = Write(directory, "Settings.ini", "[TessalineIntegration]\r\nGroupNames=Sales,Support\r\n");
    MainSettings layout;
    layout.accounts = accountFile;
    layout.aliasFile = data.aliasFile;
    layout.settingsFile = settingsFile;
    std::string mainSettings = Write(directory, "Velmora.ini", MainSettingsText(layout));
    data.registryFile =
        Write(directory, "registry.reg", RegistryFileText({{"AppPath", libraryDirectory}, {"IniPath", mainSettings}}));
    return data;
}
