// Where the Linux registry file is. The extension reads it, and the doctor
// and the development host tell the operator which file that is: all three
// follow this one rule.
#pragma once

#include <string>

constexpr char kRegistryFileVariable[] = "VELMORA_REGISTRY_FILE";
constexpr char kDefaultRegistryFile[] = "/etc/velmora/registry.reg";

struct RegistryFileLocation {
    // Empty when no file is named: the registry is then empty, as when the
    // file is missing.
    std::string path;
    // For the operator: which file, and why that one.
    std::string description;
};

// From VELMORA_REGISTRY_FILE's value, or null when it is unset: the value
// when it names a file, the default when it is unset. Set but empty, it
// names no file rather than the default: whoever emptied it did not ask for
// /etc/velmora, and a registry read from a file nobody chose would be a
// mail server nobody chose.
RegistryFileLocation LocateRegistryFile(const char* variable);
