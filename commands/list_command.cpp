// The list command, written for speed: blocks of sixteen bytes, an alias
// index found by hash, accounts written one stage behind the library. Its
// answers must be, byte for byte, those of the plain implementation in
// tests/commands/reference_list.cpp, which the differential test holds it to.
#include "commands/list_command.h"

#include "commands/alias_index.h"
#include "commands/byte_blocks.h"
#include "platform/ascii.h"
#include "platform/os_calls.h"
#include "userlib/account_guards.h"
#include "userlib/settings.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::string_view kReservedPrefix = "Velmora@";
// Each conversion has room for the longest full name: one UTF-16 unit per
// ANSI byte, at most three UTF-8 bytes per unit.
constexpr int kWideNameSize = kFullNameBufferSize;
constexpr int kUtf8NameSize = (kFullNameBufferSize - 1) * 3 + 1;
// The most that one escaped byte takes: \u00XX.
constexpr size_t kEscapedByteSize = 6;

// The most bytes a value of this length takes as a JSON string, every byte
// escaped, with the quotes; padded for the last store.
constexpr size_t JsonRoom(size_t length)
{
    return Padded(length * kEscapedByteSize + 2);
}

char* PutEscaped(char* out, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789abcdef";
    if (byte == '"' || byte == '\\') {
        out[0] = '\\';
        out[1] = static_cast<char>(byte);
        return out + 2;
    }
    memcpy(out, "\\u00", 4); // NOLINT(bugprone-not-null-terminated-result): four bytes of a longer escape
    out[4] = kHex[byte >> 4];
    out[5] = kHex[byte & 0x0F];
    return out + kEscapedByteSize;
}

// The bytes of a block that a JSON string escapes: the quote, the backslash
// and every byte below 0x20.
uint32_t EscapedBits(ByteBlock block)
{
    return BitsOf((block < EveryByte(0x20)) | (block == EveryByte('"')) | (block == EveryByte('\\')));
}

// Writes the value as a JSON string at out, which has JsonRoom for it, and
// returns where the string ends. The value goes a block at a time, stopping
// only where a byte needs escaping; so it must lie in a padded buffer, and
// out is written up to the padding past the string's end.
char* PutJsonString(char* out, std::string_view value)
{
    *out++ = '"';
    const char* at = value.data();
    size_t left = value.size();
    for (;;) {
        ByteBlock block = LoadBlock(at);
        StoreBlock(out, block);
        size_t inBlock = std::min(left, kBlockSize);
        uint32_t escaped = EscapedBits(block) & FirstBytes(inBlock);
        if (escaped == 0) {
            out += inBlock;
            if (left == inBlock)
                break;
            at += kBlockSize;
            left -= kBlockSize;
            continue;
        }
        size_t plain = static_cast<size_t>(std::countr_zero(escaped));
        out = PutEscaped(out + plain, static_cast<unsigned char>(at[plain]));
        at += plain + 1;
        left -= plain + 1;
        if (left == 0)
            break;
    }
    *out++ = '"';
    return out;
}

// The full name in UTF-8, in utf8. A name of ASCII bytes alone is its own
// UTF-8 and is copied; any other goes through UTF-16 from the ANSI code page.
// Every buffer carries one byte more than the library or the conversion is
// told of; it stays zero, so each text ends inside its buffer. The UTF-8
// buffer is padded, to be read a block at a time.
constexpr size_t kUtf8NameBufferSize = WholeBlocks(Padded(kUtf8NameSize + 1));
using Utf8NameBuffer = char[kUtf8NameBufferSize];

std::string_view ReadFullNameAsUtf8(UserHandle user, Utf8NameBuffer& utf8)
{
    char fullName[kFullNameBufferSize + 1] = {};
    static_assert(sizeof fullName == 2 * kBlockSize && sizeof(Utf8NameBuffer) >= 2 * kBlockSize);
    gUserLibrary.VL_GetFullName(user, fullName);
    ByteBlock first = LoadBlock(fullName);
    ByteBlock second = LoadBlock(fullName + kBlockSize);
    // The top bit of every byte of the buffer, and where its bytes are zero;
    // the last one always is. Bytes after the name count too: looking at them
    // costs less than stopping where the name ends, and a high byte there
    // only sends the name the long way round.
    uint32_t high = BitsOf(std::bit_cast<ByteMask>(first | second));
    uint32_t zeros = BitsOf(first == EveryByte(0)) | BitsOf(second == EveryByte(0)) << kBlockSize;
    size_t length = static_cast<size_t>(std::countr_zero(zeros));
    if (length < kFullNameBufferSize && high == 0) {
        StoreBlock(utf8, first);
        StoreBlock(utf8 + kBlockSize, second);
        return {utf8, length};
    }
    WCHAR wide[kWideNameSize + 1] = {};
    gOs.MultiByteToWideChar(CP_ACP, 0, fullName, -1, wide, kWideNameSize);
    memset(utf8, 0, sizeof utf8);
    gOs.WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, kUtf8NameSize, nullptr, nullptr);
    return utf8;
}

// Room for the aliases and a start on the accounts; the pieces grow from there.
size_t ExpectedBodySize(const AliasIndex& aliases)
{
    return size_t{64} * 1024 + aliases.AliasBytes() + 4 * aliases.Count();
}

// An address buffer: room for the library's 77 bytes, a zero after them,
// and whole blocks.
using AddressBuffer = char[WholeBlocks(kEmailBufferSize + 1)];

// A listed account between the library's answers and its place in the body.
struct ListedAccount {
    // Lower-cased, padded, to be read a block at a time.
    char address[Padded(sizeof(AddressBuffer))];
    size_t length;
    Utf8NameBuffer fullNameBytes;
    std::string_view fullName;
    AliasIndex::Lookup lookup;
};

// Copies the address lower-cased and returns its length: where its first zero is.
size_t CopyLowerCased(const AddressBuffer& from, ListedAccount& to)
{
    static_assert(sizeof from % kBlockSize == 0 && sizeof to.address >= sizeof from);
    size_t length = sizeof from;
    for (size_t at = sizeof from; at > 0;) {
        at -= kBlockSize;
        ByteBlock bytes = LoadBlock(from + at);
        StoreBlock(to.address + at, LowerCased(bytes));
        if (uint32_t zeros = BitsOf(bytes == EveryByte(0)))
            length = at + static_cast<size_t>(std::countr_zero(zeros));
    }
    return length;
}

// The fixed texts of an account's object, and the comma before it.
constexpr size_t kAccountFixedBytes =
    sizeof ",\r\n{\"userName\": " + sizeof ", \"fullName\": " + sizeof ", \"emailAddresses\": [" - 3;

void AppendAccount(BodyPieces& body, bool first, const ListedAccount& account, const AliasIndex& aliases)
{
    std::string_view address(account.address, account.length);
    char* out = body.Room(kAccountFixedBytes + 2 * JsonRoom(address.size()) + JsonRoom(account.fullName.size()));
    if (!first)
        *out++ = ',';
    out = Put(out, "\r\n{\"userName\": ");
    out = PutJsonString(out, address);
    out = Put(out, ", \"fullName\": ");
    out = PutJsonString(out, account.fullName);
    out = Put(out, ", \"emailAddresses\": [");
    out = PutJsonString(out, address);
    body.Commit(out);
    aliases.ForEachAlias(address, account.lookup, [&](std::string_view alias) {
        char* aliasOut = body.Room(2 + JsonRoom(alias.size()));
        body.Commit(PutJsonString(Put(aliasOut, ", "), alias));
    });
    body.Append("]}");
}

// The JSON array of every listed account; false when the library cannot
// start a search or the answer outgrows what a response can carry. The
// search is ended before the answer goes out.
//
// Listed accounts pass through three stages, one listed account apart: the
// first asks for the account's slot in the alias index, the second, once the
// slot has arrived, for the text of its entries, and the third writes the
// account. On a large index each ask is a trip to memory, and the library's
// work on the accounts in between hides the wait.
bool BuildListBody(const AliasIndex& aliases, const GroupNameList& groups, BodyPieces& body)
{
    AccountSearch search;
    if (!search.Started())
        return false;
    body.Append("[");
    constexpr size_t kStages = 3;
    ListedAccount ring[kStages];
    size_t listed = 0;
    size_t written = 0;
    auto write = [&](const ListedAccount& account) {
        AppendAccount(body, written++ == 0, account, aliases);
    };
    do {
        ListedAccount& account = ring[listed % kStages];
        AddressBuffer address = {};
        gUserLibrary.VL_GetEmail(search.Current(), address);
        if (!IsListed(address, groups))
            continue;
        account.length = CopyLowerCased(address, account);
        account.lookup = aliases.Locate({account.address, account.length});
        account.fullName = ReadFullNameAsUtf8(search.Current(), account.fullNameBytes);
        ++listed;
        if (listed >= 2)
            aliases.FetchEntries(ring[(listed - 2) % kStages].lookup);
        if (listed >= kStages)
            write(ring[(listed - kStages) % kStages]);
        if (body.Size() > kLargestBody)
            return false;
    } while (search.Next());
    for (size_t waiting = std::min(listed, kStages - 1); waiting > 0; --waiting)
        write(ring[(listed - waiting) % kStages]);
    body.Append("\r\n]\r\n");
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

bool BuildListAnswer(BodyPieces& body)
{
    if (!BoundFor(gUserLibrary, kNeededForList))
        return false;
    AliasIndex aliases = ReadAliasIndex();
    GroupNameList groups;
    if (!ReadGroupNames(groups))
        return false;
    body.StartWith(ExpectedBodySize(aliases));
    return BuildListBody(aliases, groups, body);
}
