#include "devkit/userlib/account_file.h"

#include "platform/ascii.h"
#include "platform/win32.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

namespace {

constexpr size_t kFieldCount = 7;
// The whole file is held in memory; no account list it stands in for comes near.
constexpr uint64_t kLargestAccountFile = UINT32_MAX;
constexpr size_t kLongestAddress = 76; // what VL_GetEmail's 77 bytes hold with the zero
constexpr int kBitCount = 64;

std::string_view Trimmed(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t";
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// Resolves \xHH and \\ in a trimmed field; nothing on any other backslash.
std::optional<std::string> Decoded(std::string_view raw)
{
    raw = Trimmed(raw);
    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            text += raw[i];
        } else if (raw.substr(i + 1, 1) == "\\") {
            text += '\\';
            ++i;
        } else if (raw.substr(i + 1, 1) == "x" && i + 3 < raw.size() && HexDigitValue(raw[i + 2]) >= 0 &&
                   HexDigitValue(raw[i + 3]) >= 0) {
            text += static_cast<char>(HexDigitValue(raw[i + 2]) * 16 + HexDigitValue(raw[i + 3]));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return text;
}

// The non-empty items of a comma-separated field.
std::optional<std::vector<std::string>> DecodedList(std::string_view raw)
{
    std::vector<std::string> items;
    for (std::string_view part : Split(raw, ',')) {
        std::optional<std::string> item = Decoded(part);
        if (!item)
            return std::nullopt;
        if (!item->empty())
            items.push_back(std::move(*item));
    }
    return items;
}

std::optional<bool> Flag(const std::string& text)
{
    if (text == "0" || text == "1")
        return text == "1";
    return std::nullopt;
}

std::optional<uint64_t> Bits(const std::vector<std::string>& numbers)
{
    uint64_t bits = 0;
    for (const std::string& number : numbers) {
        int bit = -1;
        auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), bit);
        if (error != std::errc() || end != number.data() + number.size() || bit < 0 || bit >= kBitCount)
            return std::nullopt;
        bits |= uint64_t{1} << bit;
    }
    return bits;
}

// The account of one line, or the reason it is refused.
const char* ParseLine(std::string_view line, Account& account)
{
    std::vector<std::string_view> fields = Split(line, '|');
    if (fields.size() != kFieldCount)
        return "expected 7 fields separated by '|'";
    std::optional<std::string> address = Decoded(fields[0]), fullName = Decoded(fields[1]),
                               password = Decoded(fields[2]), disabled = Decoded(fields[3]),
                               frozen = Decoded(fields[4]);
    std::optional<std::vector<std::string>> bitNumbers = DecodedList(fields[5]), groups = DecodedList(fields[6]);
    if (!address || !fullName || !password || !disabled || !frozen || !bitNumbers || !groups)
        return "a backslash that is neither \\\\ nor \\xHH";
    if (address->empty() || address->size() > kLongestAddress)
        return "the address must have 1 to 76 bytes";
    std::optional<bool> isDisabled = Flag(*disabled), isFrozen = Flag(*frozen);
    if (!isDisabled || !isFrozen)
        return "disabled and frozen must be 0 or 1";
    std::optional<uint64_t> bits = Bits(*bitNumbers);
    if (!bits)
        return "web-config bits must be numbers from 0 to 63";
    account = Account{std::move(*address), std::move(*fullName), std::move(*password), *isDisabled, *isFrozen,
                      *bits, std::move(*groups)};
    return nullptr;
}

bool IsSkipped(std::string_view line)
{
    std::string_view content = Trimmed(line);
    return content.empty() || content.front() == '#';
}

void Note(std::string_view sourceName, size_t lineNumber, const char* reason)
{
    fprintf(stderr, "VLUser: %.*s:%zu: %s; line skipped\n", static_cast<int>(sourceName.size()), sourceName.data(),
            lineNumber, reason);
}

} // namespace

AccountSet ParseAccounts(std::string_view text, std::string_view sourceName)
{
    AccountSet accounts;
    accounts.Reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    size_t lineNumber = 0;
    for (std::string_view line : Split(text, '\n')) {
        ++lineNumber;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (IsSkipped(line))
            continue;
        Account account;
        if (const char* reason = ParseLine(line, account))
            Note(sourceName, lineNumber, reason);
        else if (!accounts.Add(std::move(account)))
            Note(sourceName, lineNumber, "the address is already taken");
    }
    return accounts;
}

AccountSet ReadAccountFile(const char* path)
{
    FILE* file = path[0] != '\0' ? OpenSharedForReading(path, kLargestAccountFile) : nullptr;
    if (!file) {
        fprintf(stderr, "VLUser: cannot read the accounts file \"%s\"; no accounts\n", path);
        return {};
    }
    std::string text;
    char chunk[64 * 1024];
    for (size_t count; (count = fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, count);
    fclose(file);
    return ParseAccounts(text, path);
}
