#include "doctor/system.h"

#include "platform/wiping.h"
#include "userlib/loading.h"

#include <windows.h>
#include <aclapi.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// The system's message for an error. Its inserts (%1, ...) stand for the
// file the error is about, which takes their place: "%1 is not a valid Win32
// application" names the library that is not.
std::string SystemText(DWORD error, const std::string& file = "the file")
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text ? std::string(text, length) : "";
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    for (size_t at = message.find('%'); at != std::string::npos; at = message.find('%', at)) {
        size_t end = at + 1;
        while (end < message.size() && message[end] >= '0' && message[end] <= '9')
            ++end;
        if (end == at + 1 || message[at + 1] == '0') {
            ++at;
            continue;
        }
        message.replace(at, end - at, file);
        at += file.size();
    }
    return "error " + std::to_string(error) + (message.empty() ? "" : ": " + message);
}

// A DLL file read whole, with the few header fields the doctor asks about.
class PortableExecutable {
public:
    explicit PortableExecutable(const char* path)
    {
        std::ifstream file(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        uint32_t header = 0;
        if (Read(0x3C, header) && Read(header, signature_) && signature_ == 0x4550) // "PE\0\0"
            headers_ = header + 4;
    }

    bool Valid() const { return headers_ != 0; }
    uint16_t Machine() const { return Field<uint16_t>(headers_); }

    // The names of the DLLs it imports from.
    std::vector<std::string> Imports() const
    {
        std::vector<std::string> names;
        uint16_t optionalSize = Field<uint16_t>(headers_ + 16);
        size_t optional = headers_ + 20;
        bool wide = Field<uint16_t>(optional) == 0x20B;
        uint32_t importRva = Field<uint32_t>(optional + (wide ? 120 : 104));
        sections_ = optional + optionalSize;
        sectionCount_ = Field<uint16_t>(headers_ + 2);
        for (size_t entry = Offset(importRva); entry && Field<uint32_t>(entry + 12); entry += 20) {
            size_t name = Offset(Field<uint32_t>(entry + 12));
            if (!name || name >= bytes_.size())
                break;
            names.emplace_back(bytes_.data() + name, strnlen(bytes_.data() + name, bytes_.size() - name));
        }
        return names;
    }

private:
    template <class T>
    bool Read(size_t at, T& value) const
    {
        if (at + sizeof value > bytes_.size())
            return false;
        memcpy(&value, bytes_.data() + at, sizeof value);
        return true;
    }

    template <class T>
    T Field(size_t at) const
    {
        T value{};
        Read(at, value);
        return value;
    }

    // The file offset of an address in the loaded image, or 0.
    size_t Offset(uint32_t rva) const
    {
        for (size_t i = 0; rva && i < sectionCount_; ++i) {
            size_t section = sections_ + i * 40;
            uint32_t size = Field<uint32_t>(section + 8), start = Field<uint32_t>(section + 12);
            if (rva >= start && rva < start + size)
                return rva - start + Field<uint32_t>(section + 20);
        }
        return 0;
    }

    std::vector<char> bytes_;
    uint32_t signature_ = 0;
    size_t headers_ = 0;
    mutable size_t sections_ = 0;
    mutable size_t sectionCount_ = 0;
};

// Beside the library first, as the altered search path looks, then where
// the system looks for every program.
bool CanBeFound(const std::string& dll, const std::string& libraryDirectory)
{
    std::string beside = libraryDirectory + "\\" + dll;
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    char found[MAX_PATH];
    return SearchPathA(nullptr, dll.c_str(), nullptr, MAX_PATH, found, nullptr) != 0;
}

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool CanOpen(const std::string& path, DWORD access)
{
    HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool StartsWithIgnoringCase(const std::string& text, const char* prefix)
{
    size_t length = strlen(prefix);
    return text.size() >= length && _strnicmp(text.c_str(), prefix, length) == 0;
}

// CON, NUL, COM1 and the other names that Windows reserves for devices, in
// any folder and with any extension.
bool NamesReservedDevice(const std::string& path)
{
    size_t start = path.find_last_of("\\/:");
    std::string name = path.substr(start == std::string::npos ? 0 : start + 1);
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    for (char& c : name)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" || name == "CONOUT$")
        return true;
    return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) && name[3] >= '1' &&
           name[3] <= '9';
}

FileFound KindFromAttributes(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return {attributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::kFolder : FileKind::kFile, ""};
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return {FileKind::kMissing, ""};
    return {FileKind::kUnknown, SystemText(error, path)};
}

} // namespace

std::string RegistryDescription()
{
    return std::string("HKEY_LOCAL_MACHINE\\") + kServerKeyPath + " in the 64-bit registry view";
}

std::optional<std::string> RegistryFilePath()
{
    return std::nullopt;
}

std::string ServerKeyIn32BitView()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServerKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return "";
    RegCloseKey(key);
    // Where the 32-bit view lies, as regedit shows it to a 64-bit program.
    std::string path = kServerKeyPath;
    path.insert(path.find('\\') + 1, "WOW6432Node\\");
    return "HKEY_LOCAL_MACHINE\\" + path + ", the 32-bit registry view";
}

LoadFailure ExplainLoadFailure(const char* libraryPath)
{
    DWORD error = GetLastError();
    LoadFailure failure{SystemText(error, libraryPath), ""};
    PortableExecutable library(libraryPath);
    if (!library.Valid())
        return failure;
    if (library.Machine() == IMAGE_FILE_MACHINE_I386) {
        failure.cause = "the user library is 32-bit; the extension and the IIS application pool are 64-bit";
    } else if (error == ERROR_MOD_NOT_FOUND) {
        for (const std::string& dll : library.Imports())
            if (!CanBeFound(dll, DirectoryOf(libraryPath))) {
                failure.cause = "the user library needs " + dll + ", which is neither beside it nor on the "
                                "system's search path";
                break;
            }
    }
    return failure;
}

std::string CurrentAccount()
{
    char name[256];
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? name : SystemText(GetLastError());
}

bool MayRead(const std::string& path)
{
    return CanOpen(path, GENERIC_READ);
}

bool MayWrite(const std::string& path)
{
    return CanOpen(path, GENERIC_WRITE);
}

FileFound Examine(const std::string& path)
{
    // A pipe is never opened: that would take an instance from its server.
    if (StartsWithIgnoringCase(path, "\\\\.\\pipe\\") || StartsWithIgnoringCase(path, "//./pipe/"))
        return {FileKind::kPipe, ""};
    if (StartsWithIgnoringCase(path, "\\\\.\\") || StartsWithIgnoringCase(path, "//./") || NamesReservedDevice(path))
        return {FileKind::kDevice, ""};
    // Opened for no access at all, which reads nothing and waits for nothing.
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return KindFromAttributes(path);
    DWORD type = GetFileType(file);
    CloseHandle(file);
    switch (type) {
    case FILE_TYPE_DISK: return KindFromAttributes(path);
    case FILE_TYPE_CHAR: return {FileKind::kDevice, ""};
    case FILE_TYPE_PIPE: return {FileKind::kPipe, ""};
    default: return {FileKind::kOther, ""};
    }
}

FileFound ExamineSettingsFile(const std::string& path)
{
    return Examine(path);
}

uint64_t SettingsFileLimit()
{
    return 0;
}

bool RefusesToRead(FileKind kind)
{
    return kind == FileKind::kFolder;
}

std::string WhyUnreadable(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SystemText(GetLastError(), path);
    CloseHandle(file);
    return "";
}

AccessAnswer AccountMay(const std::string& account, const std::string& path, AccessKind kind)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    char domain[256];
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountNameA(nullptr, account.c_str(), sid, &sidSize, domain, &domainSize, &use))
        return {Access::kUnknown, "cannot find the account: " + SystemText(GetLastError())};

    // The profile writer changes the settings file in place: the file's own
    // write right is enough, and only a missing file needs its folder's right
    // to create files.
    bool create = kind == AccessKind::kSettingsWrite && Examine(path).kind == FileKind::kMissing;
    std::string object = create ? DirectoryOf(path) : path;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoA(object.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        &acl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return {Access::kUnknown, "cannot read the access list of " + object + ": " + SystemText(error, object)};
    ACCESS_MASK rights = 0;
    TRUSTEE_A trustee{};
    BuildTrusteeWithSidA(&trustee, sid);
    error = acl ? GetEffectiveRightsFromAclA(acl, &trustee, &rights) : ERROR_SUCCESS;
    LocalFree(descriptor);
    if (error != ERROR_SUCCESS)
        return {Access::kUnknown, "cannot evaluate the access list: " + SystemText(error)};
    if (!acl)
        return {Access::kAllowed, object + " has no access list: everyone may"};
    ACCESS_MASK needed = create                                 ? FILE_ADD_FILE | FILE_TRAVERSE
                         : kind == AccessKind::kSettingsWrite ? FILE_GENERIC_READ | FILE_GENERIC_WRITE
                         : kind == AccessKind::kFolder        ? FILE_GENERIC_READ | FILE_GENERIC_EXECUTE
                                                              : FILE_GENERIC_READ;
    bool allowed = (rights & needed) == needed;
    std::string note = "from the access list";
    if (create)
        note = "the file does not exist: the extension would create it, which needs the right to create files in " +
               object + "; " + note;
    else if (kind == AccessKind::kSettingsWrite)
        note += "; the settings writer changes the file in place, so no right on its folder is needed";
    return {allowed ? Access::kAllowed : Access::kDenied, note};
}

bool InputIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// Read as UTF-16 from the console and encoded as UTF-8, as clients send it.
PasswordRead ReadPasswordFromTerminal(const std::string& prompt, std::string& password)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    GetConsoleMode(input, &saved);
    SetConsoleMode(input, (saved | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    fputs(prompt.c_str(), stderr);

    // Each character takes at least one byte in UTF-8: a line that fills
    // the room for the limit and its CR LF is over the limit.
    constexpr DWORD kRoom = kPasswordLimit + 2;
    WCHAR typed[kRoom] = {};
    WipedOnExit wiped(typed, sizeof typed);
    DWORD count = 0;
    bool read = ReadConsoleW(input, typed, kRoom, &count, nullptr) != 0;
    SetConsoleMode(input, saved);
    fputc('\n', stderr);
    if (!read)
        return PasswordRead::kNone;
    bool overflows = count == kRoom && typed[count - 1] != L'\n';
    while (count > 0 && (typed[count - 1] == L'\n' || typed[count - 1] == L'\r'))
        --count;
    int size = count > 0 ? WideCharToMultiByte(CP_UTF8, 0, typed, static_cast<int>(count), nullptr, 0, nullptr,
                                               nullptr)
                         : 0;
    if (overflows || static_cast<size_t>(size) > kPasswordLimit)
        return PasswordRead::kTooLong;
    password.resize(static_cast<size_t>(size));
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, typed, static_cast<int>(count), password.data(), size, nullptr, nullptr);
    return PasswordRead::kRead;
}

bool ReadInputByte(char& byte)
{
    DWORD count = 0;
    return ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr) && count == 1;
}
