// The list command: every listable account as a JSON array, with its full
// name and every address that reaches it.
#include "commands/alias_table.h"
#include "commands/byte_blocks.h"
#include "commands/list_command.h"
#include "extension/request_context.h"
#include "platform/ascii.h"
#include "platform/os_calls.h"
#include "userlib/account_guards.h"
#include "userlib/settings.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>

namespace {

constexpr std::string_view kReservedPrefix = "Velmora@";
// Each conversion has room for the longest full name: one UTF-16 unit per
// ANSI byte, at most three UTF-8 bytes per unit.
constexpr int kWideNameSize = kFullNameBufferSize;
constexpr int kUtf8NameSize = (kFullNameBufferSize - 1) * 3 + 1;
// The most that one escaped byte takes: \u00XX.
constexpr size_t kEscapedByteSize = 6;

// The most bytes a value of this length takes as a JSON string: every byte
// escaped, the quotes, and the block that the last store may write past them.
constexpr size_t JsonRoom(size_t length)
{
    return length * kEscapedByteSize + 2 + kBlockSize;
}

template <size_t N>
char* Put(char* out, const char (&text)[N])
{
    memcpy(out, text, N - 1);
    return out + N - 1;
}

char* PutEscaped(char* out, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789abcdef";
    if (byte == '"' || byte == '\\') {
        out[0] = '\\';
        out[1] = static_cast<char>(byte);
        return out + 2;
    }
    memcpy(out, "\\u00", 4);
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
// only where a byte needs escaping; so a whole block from its start, and
// every block that starts inside it, must be readable, and out may be written
// a block past the end, which the next writer overwrites.
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

// The answer's body in pieces that never move once allocated: when one
// fills, the next holds a quarter of all before it. A listing of any size
// takes a handful of allocations and about a quarter again its size, no byte
// is copied to make room, and bytes written stay where they are.
class BodyPieces {
public:
    explicit BodyPieces(size_t firstSize) : firstSize_(firstSize) {}

    // A fixed piece, its length known when compiled.
    template <size_t N>
    void Append(const char (&text)[N])
    {
        end_ = Put(Room(N - 1), text);
    }

    // Where the next count bytes go; Commit says how far they went.
    char* Room(size_t count)
    {
        if (static_cast<size_t>(limit_ - end_) < count)
            StartPiece(count);
        return end_;
    }

    void Commit(char* end) { end_ = end; }

    size_t Size() const { return filled_ + static_cast<size_t>(end_ - pieceStart_); }

    std::span<const std::string_view> Pieces()
    {
        if (count_ > 0)
            views_[count_ - 1] = {pieceStart_, static_cast<size_t>(end_ - pieceStart_)};
        return {views_, count_};
    }

private:
    // Growing by a quarter of the whole, from at least 64 KiB, the pieces
    // pass the 4 GiB that an answer may hold after some fifty of them.
    void StartPiece(size_t count)
    {
        if (count_ == kMostPieces)
            throw std::length_error("list body");
        size_t size = std::max(count, count_ == 0 ? firstSize_ : Size() / 4);
        if (count_ > 0)
            views_[count_ - 1] = {pieceStart_, static_cast<size_t>(end_ - pieceStart_)};
        filled_ = Size();
        pieces_[count_] = std::make_unique_for_overwrite<char[]>(size);
        pieceStart_ = end_ = pieces_[count_].get();
        limit_ = end_ + size;
        ++count_;
    }

    static constexpr size_t kMostPieces = 64;
    size_t firstSize_;
    std::unique_ptr<char[]> pieces_[kMostPieces];
    std::string_view views_[kMostPieces];
    size_t count_ = 0;
    size_t filled_ = 0; // in the pieces before this one
    char* pieceStart_ = nullptr;
    char* end_ = nullptr;
    char* limit_ = nullptr;
};

// The full name in UTF-8, in utf8. A name of ASCII bytes alone is its own
// UTF-8 and is copied; any other goes through UTF-16 from the ANSI code page.
// Every buffer carries one byte more than the library or the conversion is
// told of; it stays zero, so each text ends inside its buffer. The UTF-8
// buffer has a block more, to be read a block at a time.
constexpr size_t kUtf8NameBufferSize = (kUtf8NameSize + 1 + 2 * kBlockSize - 1) / kBlockSize * kBlockSize;
using Utf8NameBuffer = char[kUtf8NameBufferSize];

std::string_view ReadFullNameAsUtf8(UserHandle user, Utf8NameBuffer& utf8)
{
    static_assert(kFullNameBufferSize + 1 == 2 * kBlockSize);
    char fullName[kFullNameBufferSize + 1] = {};
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
    return 64 * 1024 + aliases.AliasBytes() + 4 * aliases.Count();
}

// An address buffer: room for the library's 77 bytes, a zero after them,
// and whole blocks.
constexpr size_t kAddressBlocks = (kEmailBufferSize + 1 + kBlockSize - 1) / kBlockSize;
using AddressBuffer = char[kAddressBlocks * kBlockSize];

// A listed account between the library's answers and its place in the body.
struct ListedAccount {
    // Lower-cased, with a block more, to be read a block at a time.
    char address[sizeof(AddressBuffer) + kBlockSize];
    size_t length;
    Utf8NameBuffer fullNameBytes;
    std::string_view fullName;
    AliasIndex::Lookup lookup;
};

// Copies the address lower-cased and returns its length: where its first zero is.
size_t CopyLowerCased(const AddressBuffer& from, ListedAccount& to)
{
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
        if (body.Size() > UINT32_MAX)
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

void RequestContext::RunListCommand()
{
    if (!ListCommandBound(gUserLibrary)) {
        SendInternalError();
        return;
    }

    AliasIndex aliases = ReadAliasIndex();
    GroupNameList groups;
    if (!ReadGroupNames(groups)) {
        SendInternalError();
        return;
    }

    BodyPieces body(ExpectedBodySize(aliases));
    if (!BuildListBody(aliases, groups, body)) {
        SendInternalError();
        return;
    }
    SendResponse("200 OK", kJsonContentType, body.Pieces());
}
