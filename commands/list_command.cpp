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

#include <array>
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

// The bytes a JSON string must escape: the quote, the backslash and every
// byte below 0x20.
constexpr auto kEscaped = [] {
    std::array<bool, 256> escaped{};
    for (int byte = 0; byte < 0x20; ++byte)
        escaped[byte] = true;
    escaped['"'] = escaped['\\'] = true;
    return escaped;
}();

constexpr uint64_t kEveryByte = 0x0101010101010101u;
constexpr uint64_t kHighBits = 0x8080808080808080u;

// Whether any of eight bytes is zero; exact for "any", which is all that is asked.
uint64_t AnyZeroByte(uint64_t word)
{
    return (word - kEveryByte) & ~word & kHighBits;
}

uint64_t LoadWord(const char* bytes)
{
    uint64_t word;
    memcpy(&word, bytes, 8);
    return word;
}

bool HoldsEscaped(uint64_t word)
{
    uint64_t below20 = (word - 0x20 * kEveryByte) & ~word & kHighBits;
    return below20 | AnyZeroByte(word ^ ('"' * kEveryByte)) | AnyZeroByte(word ^ ('\\' * kEveryByte));
}

// The first byte that JSON escapes, or end. Eight bytes are looked at a
// time, the last eight ending where the text ends; only a word that holds
// such a byte is looked at byte by byte, as is a text of fewer than eight.
const char* FirstEscaped(const char* at, const char* end)
{
    if (end - at >= 8) {
        while (end - at > 8 && !HoldsEscaped(LoadWord(at)))
            at += 8;
        if (end - at <= 8 && !HoldsEscaped(LoadWord(end - 8)))
            return end;
    }
    while (at != end && !kEscaped[static_cast<unsigned char>(*at)])
        ++at;
    return at;
}

// Copies the text to out sixteen bytes at a time for as long as no byte of
// it needs escaping, the last sixteen ending where the text ends; returns
// how many bytes went, all of them when none needs it. A text shorter than
// sixteen bytes is left whole to the caller.
size_t CopyPlainBlocks(const char* text, size_t length, char* out)
{
    auto plain = [](ByteBlock block) {
        return !AnyByteSet((block < EveryByte(0x20)) | (block == EveryByte('"')) | (block == EveryByte('\\')));
    };
    if (length < kBlockSize)
        return 0;
    size_t at = 0;
    for (; length - at > kBlockSize; at += kBlockSize) {
        ByteBlock block = LoadBlock(text + at);
        if (!plain(block))
            return at;
        StoreBlock(out + at, block);
    }
    ByteBlock last = LoadBlock(text + length - kBlockSize);
    if (!plain(last))
        return at;
    StoreBlock(out + length - kBlockSize, last);
    return length;
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
        memcpy(Room(N - 1), text, N - 1);
        end_ += N - 1;
    }

    // Bytes already in the body, once more.
    void AppendCopy(std::string_view bytes)
    {
        memcpy(Room(bytes.size()), bytes.data(), bytes.size());
        end_ += bytes.size();
    }

    // The value as a JSON string; plain bytes are copied in runs. Returns
    // what was written, which stays in place.
    std::string_view AppendJsonString(std::string_view value)
    {
        static constexpr char kHex[] = "0123456789abcdef";
        char* start = Room(value.size() * kEscapedByteSize + 2);
        char* out = start;
        *out++ = '"';
        size_t plain = CopyPlainBlocks(value.data(), value.size(), out);
        out += plain;
        const char* run = value.data() + plain;
        const char* end = value.data() + value.size();
        if (run == end)
            return Close(start, out);
        for (const char* at = run; (at = FirstEscaped(at, end)) != end; ++at) {
            unsigned char byte = static_cast<unsigned char>(*at);
            memcpy(out, run, static_cast<size_t>(at - run));
            out += at - run;
            run = at + 1;
            if (byte == '"' || byte == '\\') {
                *out++ = '\\';
                *out++ = static_cast<char>(byte);
            } else {
                memcpy(out, "\\u00", 4);
                out[4] = kHex[byte >> 4];
                out[5] = kHex[byte & 0x0F];
                out += 6;
            }
        }
        memcpy(out, run, static_cast<size_t>(end - run));
        return Close(start, out + (end - run));
    }

    size_t Size() const { return filled_ + static_cast<size_t>(end_ - pieceStart_); }

    std::span<const std::string_view> Pieces()
    {
        if (count_ > 0)
            views_[count_ - 1] = {pieceStart_, static_cast<size_t>(end_ - pieceStart_)};
        return {views_, count_};
    }

private:
    // Ends the JSON string that started at start and has reached out.
    std::string_view Close(char* start, char* out)
    {
        *out++ = '"';
        end_ = out;
        return {start, static_cast<size_t>(out - start)};
    }

    char* Room(size_t count)
    {
        if (static_cast<size_t>(limit_ - end_) < count)
            StartPiece(count);
        return end_;
    }

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

// Whether no byte of the whole buffer is above 0x7F. Looking at the bytes
// after the text as well costs less than stopping where it ends, and a high
// byte there only sends the name the long way round.
template <size_t N>
bool IsAscii(const char (&buffer)[N])
{
    static_assert(N % 8 == 0);
    uint64_t any = 0;
    for (size_t at = 0; at < N; at += 8)
        any |= LoadWord(buffer + at);
    return (any & kHighBits) == 0;
}

// The full name in UTF-8, in utf8. A name of ASCII bytes alone is its own
// UTF-8 and is copied; any other goes through UTF-16 from the ANSI code page.
// Every buffer carries one byte more than the library or the conversion is
// told of; it stays zero, so each text ends inside its buffer.
std::string_view ReadFullNameAsUtf8(UserHandle user, char (&utf8)[kUtf8NameSize + 1])
{
    char fullName[kFullNameBufferSize + 1] = {};
    gUserLibrary.VL_GetFullName(user, fullName);
    size_t length = strlen(fullName);
    if (length < kFullNameBufferSize && IsAscii(fullName)) {
        memcpy(utf8, fullName, length + 1);
        return {utf8, length};
    }
    WCHAR wide[kWideNameSize + 1] = {};
    gOs.MultiByteToWideChar(CP_ACP, 0, fullName, -1, wide, kWideNameSize);
    memset(utf8, 0, sizeof utf8);
    gOs.WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, kUtf8NameSize, nullptr, nullptr);
    return utf8;
}

void AppendAccount(BodyPieces& body, std::string_view address, std::string_view fullName, const AliasIndex& aliases,
                   AliasIndex::Lookup lookup)
{
    body.Append("\r\n{\"userName\": ");
    std::string_view addressJson = body.AppendJsonString(address);
    body.Append(", \"fullName\": ");
    body.AppendJsonString(fullName);
    body.Append(", \"emailAddresses\": [");
    body.AppendCopy(addressJson);
    aliases.ForEachAlias(address, lookup, [&](std::string_view alias) {
        body.Append(", ");
        body.AppendJsonString(alias);
    });
    body.Append("]}");
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

void CopyLowerCased(const AddressBuffer& from, AddressBuffer& to)
{
    for (size_t at = 0; at < sizeof to; at += kBlockSize)
        StoreBlock(to + at, LowerCased(LoadBlock(from + at)));
}

// A listed account between the library's answers and its place in the body.
struct ListedAccount {
    AddressBuffer address; // lower-cased
    size_t length;
    char fullNameBytes[kUtf8NameSize + 1];
    std::string_view fullName;
    AliasIndex::Lookup lookup;
};

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
    bool anyWritten = false;
    auto write = [&](const ListedAccount& account) {
        if (anyWritten)
            body.Append(",");
        AppendAccount(body, {account.address, account.length}, account.fullName, aliases, account.lookup);
        anyWritten = true;
    };
    do {
        ListedAccount& account = ring[listed % kStages];
        AddressBuffer address = {};
        gUserLibrary.VL_GetEmail(search.Current(), address);
        if (!IsListed(address, groups))
            continue;
        account.length = strlen(address);
        CopyLowerCased(address, account.address);
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
