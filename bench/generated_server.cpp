#include "bench/generated_server.h"

#include "devkit/userlib/layout_text.h"

#include <fstream>

namespace {

// SplitMix64: spreads the aliases over the accounts the same way on every run.
uint64_t Spread(uint64_t value)
{
    value += 0x9E3779B97F4A7C15u;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9u;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBu;
    return value ^ (value >> 31);
}

std::string Write(const std::string& directory, const std::string& name, const std::string& text)
{
    std::string path = directory + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

} // namespace

GeneratedAccount MakeGeneratedAccount(size_t index)
{
    GeneratedAccount account;
    if (index == 0) {
        account.address = kCallerAddress;
        account.fullName = "Velmora System";
        account.password = kCallerPassword;
        account.mayConfigure = true;
        return account;
    }
    std::string number = std::to_string(index);
    account.address = "user" + number + "@example.com";
    account.fullName = (index % 5 == 0 ? "J\xE9r\xF4me M\xFCller " : "Bench User ") + number;
    account.password = "pass-" + number;
    account.sales = index % 3 == 1;
    account.support = index % 3 == 2;
    return account;
}

std::string GeneratedAliasFile(size_t accounts)
{
    std::string text;
    text.reserve(accounts * 48);
    for (size_t alias = 0; alias < accounts; ++alias)
        text += "alias" + std::to_string(alias) + "@example.com = user" +
                std::to_string(1 + Spread(alias) % accounts) + "@example.com\r\n";
    return text;
}

ServerData WriteGeneratedServer(const std::string& directory, size_t accounts, const std::string& libraryDirectory)
{
    ServerData data;
    data.accounts = accounts;
    data.aliasFile = Write(directory, "Aliases.txt", GeneratedAliasFile(accounts));
    std::string settingsFile = Write(directory, "Settings.ini", "[TessalineIntegration]\r\nGroupNames=Sales,Support\r\n");
    MainSettings layout;
    layout.accountsKey = kGeneratedAccountsKey;
    layout.accounts = std::to_string(accounts);
    layout.aliasFile = data.aliasFile;
    layout.settingsFile = settingsFile;
    std::string mainSettings = Write(directory, "Velmora.ini", MainSettingsText(layout));
    data.registryFile =
        Write(directory, "registry.reg", RegistryFileText({{"AppPath", libraryDirectory}, {"IniPath", mainSettings}}));
    return data;
}
