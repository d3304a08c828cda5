#include "platform/linux/code_pages.h"

#include "platform/linux/last_error.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char32_t kInvalid = 0xFFFFFFFF;

// Bytes 0x80 to 0x9F of Windows-1252; the five it leaves undefined stand for
// the C1 controls of the same value, so every byte survives a round trip.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Collects output units, or only counts them when the caller asked for the size.
template <class Unit>
class Output {
public:
    Output(Unit* target, int capacity) : target_(capacity ? target : nullptr), capacity_(capacity) {}

    // False once the caller's buffer is full.
    bool Put(Unit unit)
    {
        if (target_) {
            if (count_ == capacity_)
                return false;
            target_[count_] = unit;
        }
        ++count_;
        return true;
    }

    int count() const { return count_; }

private:
    Unit* target_;
    int capacity_;
    int count_ = 0;
};

// Writes without looking: for a caller's buffer with room for the longest
// output the source can give, which is the common case and needs no check
// per unit.
template <class Unit>
class UncheckedOutput {
public:
    explicit UncheckedOutput(Unit* target) : target_(target) {}

    bool Put(Unit unit)
    {
        target_[count_++] = unit;
        return true;
    }

    int count() const { return count_; }

private:
    Unit* target_;
    int count_ = 0;
};

// Whether a buffer of targetLength units holds sourceLength units' longest output.
bool HoldsLongest(const void* target, int targetLength, int sourceLength, int mostPerUnit)
{
    return target && static_cast<int64_t>(targetLength) >= static_cast<int64_t>(sourceLength) * mostPerUnit;
}

// A failed conversion returns 0 and says why in the thread's last error.
int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

bool ValidArguments(const void* source, int sourceLength, const void* target, int targetLength)
{
    return source && sourceLength >= -1 && sourceLength != 0 && targetLength >= 0 && (target || !targetLength);
}

// The terminator of a source of length -1 is converted too.
int SourceLength(const char* source, int sourceLength)
{
    return sourceLength != -1 ? sourceLength : static_cast<int>(strlen(source) + 1);
}

int SourceLength(const WCHAR* source, int sourceLength)
{
    return sourceLength != -1 ? sourceLength : static_cast<int>(std::char_traits<WCHAR>::length(source) + 1);
}

constexpr auto kFromWindows1252 = [] {
    std::array<char16_t, 256> units{};
    for (int byte = 0; byte < 256; ++byte)
        units[byte] = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : static_cast<char16_t>(byte);
    return units;
}();

// The 1252 byte that stands for exactly this unit, or -1 when none does.
int ToWindows1252(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return unit;
    for (int index = 0; index < 32; ++index)
        if (kHighControls[index] == unit)
            return 0x80 + index;
    return -1;
}

bool IsContinuation(const unsigned char* position, const unsigned char* end)
{
    return position < end && (*position & 0xC0) == 0x80;
}

// Decodes one sequence whose lead byte is at *position and moves past it. An
// invalid sequence gives kInvalid and leaves *position after the longest prefix
// that could still have begun a valid sequence, as Windows does, so that the
// next byte starts afresh.
inline char32_t DecodeUtf8(const unsigned char*& position, const unsigned char* end)
{
    unsigned char lead = *position++;
    if (lead < 0x80)
        return lead;
    int trailing = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
    if (trailing == 0)
        return kInvalid;
    char32_t value = lead & (0x7F >> (trailing + 1));
    if (trailing == 3) {
        if (!IsContinuation(position, end))
            return kInvalid;
        value = value << 6 | (*position++ & 0x3F);
        if (value < 0x10) // overlong four-byte form
            return kInvalid;
    }
    if (trailing >= 2) {
        if (!IsContinuation(position, end))
            return kInvalid;
        value = value << 6 | (*position & 0x3F);
        if (value >= (0x110000 >> 6)) // beyond U+10FFFF: the byte starts afresh
            return kInvalid;
        ++position;
        if (value < 0x20 || (value >= (0xD800 >> 6) && value <= (0xDFFF >> 6))) // overlong, or a surrogate
            return kInvalid;
    }
    if (!IsContinuation(position, end))
        return kInvalid;
    value = value << 6 | (*position++ & 0x3F);
    return value < 0x80 ? kInvalid : value;
}

template <class Output>
bool PutUtf16(Output& output, char32_t value)
{
    if (value < 0x10000)
        return output.Put(static_cast<char16_t>(value));
    value -= 0x10000;
    return output.Put(static_cast<char16_t>(0xD800 | (value >> 10))) &&
           output.Put(static_cast<char16_t>(0xDC00 | (value & 0x3FF)));
}

template <class Output>
bool PutUtf8(Output& output, char32_t value)
{
    auto put = [&output](unsigned value) { return output.Put(static_cast<char>(value)); };
    if (value < 0x80)
        return put(value);
    if (value < 0x800)
        return put(0xC0 | value >> 6) && put(0x80 | (value & 0x3F));
    if (value < 0x10000)
        return put(0xE0 | value >> 12) && put(0x80 | (value >> 6 & 0x3F)) && put(0x80 | (value & 0x3F));
    return put(0xF0 | value >> 18) && put(0x80 | (value >> 12 & 0x3F)) && put(0x80 | (value >> 6 & 0x3F)) &&
           put(0x80 | (value & 0x3F));
}

template <class Output>
int Utf8ToUtf16(DWORD flags, const unsigned char* source, int length, Output& output)
{
    const unsigned char* end = source + length;
    for (const unsigned char* position = source; position < end;) {
        char32_t value = DecodeUtf8(position, end);
        if (value == kInvalid) {
            if (flags & MB_ERR_INVALID_CHARS)
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            value = kReplacement;
        }
        if (!PutUtf16(output, value))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return output.count();
}

template <class Output>
int Windows1252ToUtf16(const unsigned char* source, int length, Output& output)
{
    for (int index = 0; index < length; ++index)
        if (!output.Put(kFromWindows1252[source[index]]))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    return output.count();
}

// A lone surrogate has no UTF-8 form of its own and becomes U+FFFD, which
// counts as a default character used.
template <class Output>
int Utf16ToUtf8(const WCHAR* source, int length, Output& output, BOOL& usedDefault)
{
    usedDefault = FALSE;
    for (int index = 0; index < length; ++index) {
        char32_t value = source[index];
        if (value - 0xD800 < 0x800) { // a surrogate
            bool pair = value < 0xDC00 && index + 1 < length && source[index + 1] - 0xDC00u < 0x400;
            if (pair)
                value = 0x10000 + ((value - 0xD800) << 10) + (source[++index] - 0xDC00u);
            else
                value = kReplacement, usedDefault = TRUE;
        }
        if (!PutUtf8(output, value))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return output.count();
}

// Only exact mappings: a unit without its own 1252 byte becomes the default
// character, never a look-alike.
int Utf16ToWindows1252(const WCHAR* source, int length, LPCCH defaultChar, LPBOOL usedDefaultChar,
                       Output<char>& output)
{
    char substitute = defaultChar ? *defaultChar : '?';
    BOOL ignored;
    LPBOOL usedDefault = usedDefaultChar ? usedDefaultChar : &ignored;
    *usedDefault = FALSE;
    for (int index = 0; index < length; ++index) {
        int byte = ToWindows1252(source[index]);
        if (byte < 0) {
            *usedDefault = TRUE;
            byte = static_cast<unsigned char>(substitute);
        }
        if (!output.Put(static_cast<char>(byte)))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return output.count();
}

} // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH source, int sourceLength, LPWSTR target,
                        int targetLength)
{
    if (!ValidArguments(source, sourceLength, target, targetLength) || (codePage != CP_ACP && codePage != CP_UTF8))
        return Fail(ERROR_INVALID_PARAMETER);
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    int length = SourceLength(source, sourceLength);
    auto convert = [&](auto& output) {
        return codePage == CP_UTF8 ? Utf8ToUtf16(flags, bytes, length, output)
                                   : Windows1252ToUtf16(bytes, length, output);
    };
    // Every byte gives at most one unit: a sequence of four gives two.
    if (HoldsLongest(target, targetLength, length, 1)) {
        UncheckedOutput<WCHAR> output(target);
        return convert(output);
    }
    Output<WCHAR> output(target, targetLength);
    return convert(output);
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWCH source, int sourceLength, LPSTR target, int targetLength,
                        LPCCH defaultChar, LPBOOL usedDefaultChar)
{
    if (!ValidArguments(source, sourceLength, target, targetLength))
        return Fail(ERROR_INVALID_PARAMETER);
    int length = SourceLength(source, sourceLength);
    Output<char> output(target, targetLength);
    if (codePage == CP_UTF8) {
        // The only default UTF-8 ever needs is U+FFFD: a default character
        // asked for goes unused.
        BOOL ignored;
        BOOL& usedDefault = usedDefaultChar ? *usedDefaultChar : ignored;
        // Every unit gives at most three bytes: a surrogate pair gives four.
        if (HoldsLongest(target, targetLength, length, 3)) {
            UncheckedOutput<char> unchecked(target);
            return Utf16ToUtf8(source, length, unchecked, usedDefault);
        }
        return Utf16ToUtf8(source, length, output, usedDefault);
    }
    if (codePage == CP_ACP)
        return Utf16ToWindows1252(source, length, defaultChar, usedDefaultChar, output);
    return Fail(ERROR_INVALID_PARAMETER);
}
