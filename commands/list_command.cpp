// The list command: every listable account as a JSON array, with its full
// name and every address that reaches it.
#include "commands/alias_table.h"
#include "commands/list_command.h"
#include "extension/request_context.h"
#include "platform/ascii.h"
#include "platform/os_calls.h"
#include "userlib/account_guards.h"
#include "userlib/settings.h"

#include <cstring>

namespace {

constexpr std::string_view kReservedPrefix = "Velmora@";
// Each conversion has room for the longest full name: one UTF-16 unit per
// ANSI byte, at most three UTF-8 bytes per unit.
constexpr int kWideNameSize = kFullNameBufferSize;
constexpr int kUtf8NameSize = (kFullNameBufferSize - 1) * 3 + 1;

void AppendJsonString(std::string& out, std::string_view value)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : value) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    out += '"';
}

// Every buffer carries one byte more than the library or the conversion is
// told of; it stays zero, so each text ends inside its buffer.
void ReadFullNameAsUtf8(UserHandle user, char (&utf8)[kUtf8NameSize + 1])
{
    char fullName[kFullNameBufferSize + 1] = {};
    gUserLibrary.VL_GetFullName(user, fullName);
    WCHAR wide[kWideNameSize + 1] = {};
    gOs.MultiByteToWideChar(CP_ACP, 0, fullName, -1, wide, kWideNameSize);
    memset(utf8, 0, sizeof utf8);
    gOs.WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, kUtf8NameSize, nullptr, nullptr);
}

void AppendAccount(std::string& body, const char* address, const char* fullName,
                   std::span<const AliasEntry> aliases)
{
    body += "\r\n{\"userName\": ";
    AppendJsonString(body, address);
    body += ", \"fullName\": ";
    AppendJsonString(body, fullName);
    body += ", \"emailAddresses\": [";
    AppendJsonString(body, address);
    for (const AliasEntry& entry : aliases) {
        body += ", ";
        AppendJsonString(body, entry.alias);
    }
    body += "]}";
}

size_t ExpectedBodySize(const AliasTable& aliases)
{
    size_t size = 64 * 1024;
    for (const AliasEntry& entry : aliases)
        size += entry.alias.size() + 4;
    return size;
}

// The JSON array of every listed account; false when the library cannot
// start a search. The search is ended before the answer goes out.
bool BuildListBody(const AliasTable& aliases, const GroupNameList& groups, std::string& body)
{
    AccountSearch search;
    if (!search.Started())
        return false;
    body.reserve(ExpectedBodySize(aliases));
    body += '[';
    bool anyWritten = false;
    do {
        char address[kEmailBufferSize + 1] = {};
        gUserLibrary.VL_GetEmail(search.Current(), address);
        if (!IsListed(address, groups))
            continue;
        LowerCaseInPlace(address);
        char fullName[kUtf8NameSize + 1];
        ReadFullNameAsUtf8(search.Current(), fullName);
        if (anyWritten)
            body += ',';
        AppendAccount(body, address, fullName, FindAliases(aliases, address));
        anyWritten = true;
    } while (search.Next());
    body += "\r\n]\r\n";
    return true;
}

} // namespace

bool IsListed(const char* address, const GroupNameList& groups)
{
    if (StartsWithIgnoringAsciiCase(address, kReservedPrefix))
        return false;
    if (groups.empty())
        return true;
    for (const std::string& group : groups)
        if (gUserLibrary.VL_GroupFindMember(address, group.c_str()))
            return true;
    return false;
}

void RequestContext::RunListCommand()
{
    if (!ListCommandBound(gUserLibrary)) {
        SendInternalError();
        return;
    }

    AliasTable aliases = ReadAliasTable();
    GroupNameList groups;
    if (!ReadGroupNames(groups)) {
        SendInternalError();
        return;
    }

    std::string body;
    if (!BuildListBody(aliases, groups, body)) {
        SendInternalError();
        return;
    }
    SendResponse("200 OK", kJsonContentType, body);
}
