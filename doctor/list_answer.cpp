#include "doctor/list_answer.h"

#include <cstdint>

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    void SkipSpace()
    {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
            ++at_;
    }
    bool Take(char c)
    {
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool AtEnd()
    {
        SkipSpace();
        return at_ == text_.size();
    }
    size_t Offset() const { return at_; }

    // A JSON string, escapes decoded (to UTF-8); `raw8bit` is set when the
    // text itself holds bytes above 0x7F, which JSON would carry only as UTF-8.
    bool String(std::string& out, bool& nonAscii)
    {
        if (!Take('"'))
            return false;
        out.clear();
        nonAscii = false;
        while (at_ < text_.size()) {
            unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c >= 0x80)
                nonAscii = true;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size())
                return false;
            char escape = text_[at_++];
            switch (escape) {
            case '"': case '\\': case '/': out += escape; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t unit = 0;
                if (!Hex4(unit))
                    return false;
                if (unit >= 0x80)
                    nonAscii = true;
                AppendUtf8(out, unit);
                break;
            }
            default: return false;
            }
        }
        return false;
    }

private:
    bool Hex4(uint32_t& unit)
    {
        if (text_.size() - at_ < 4)
            return false;
        for (int i = 0; i < 4; ++i) {
            char h = text_[at_++];
            unit <<= 4;
            if (h >= '0' && h <= '9')
                unit |= static_cast<uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f')
                unit |= static_cast<uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                unit |= static_cast<uint32_t>(h - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    // Surrogates are kept as they come: the figures need only the bytes' count.
    static void AppendUtf8(std::string& out, uint32_t unit)
    {
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (unit >> 12));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }

    std::string_view text_;
    size_t at_ = 0;
};

constexpr size_t kLongestUserName = 76;

bool Fail(std::string& error, const Reader& reader, long account, const std::string& what)
{
    error = (account >= 0 ? "account " + std::to_string(account + 1) + ": " : std::string()) + what +
            " (at byte " + std::to_string(reader.Offset()) + ")";
    return false;
}

bool ReadAddresses(Reader& reader, std::vector<std::string>& addresses, std::vector<bool>& nonAscii)
{
    if (!reader.Take('['))
        return false;
    if (reader.Take(']'))
        return true;
    do {
        std::string address;
        bool eightBit = false;
        if (!reader.String(address, eightBit))
            return false;
        addresses.push_back(std::move(address));
        nonAscii.push_back(eightBit);
    } while (reader.Take(','));
    return reader.Take(']');
}

bool ReadAccount(Reader& reader, long index, ListFigures& figures, std::string& error)
{
    if (!reader.Take('{'))
        return Fail(error, reader, index, "not an object");
    std::string userName;
    bool haveUserName = false, haveFullName = false, haveAddresses = false, userNameNonAscii = false;
    std::vector<std::string> addresses;
    std::vector<bool> nonAscii;
    if (!reader.Take('}')) {
        do {
            std::string key, value;
            bool eightBit = false;
            if (!reader.String(key, eightBit) || !reader.Take(':'))
                return Fail(error, reader, index, "not a field name and colon");
            bool& seen = key == "userName" ? haveUserName : key == "fullName" ? haveFullName : haveAddresses;
            if (key != "userName" && key != "fullName" && key != "emailAddresses")
                return Fail(error, reader, index, "a field the schema does not allow: \"" + key + "\"");
            if (seen)
                return Fail(error, reader, index, "\"" + key + "\" twice");
            seen = true;
            if (key == "emailAddresses") {
                if (!ReadAddresses(reader, addresses, nonAscii))
                    return Fail(error, reader, index, "\"emailAddresses\" is not an array of strings");
            } else if (!reader.String(key == "userName" ? userName : value, eightBit)) {
                return Fail(error, reader, index, "\"" + key + "\" is not a string");
            } else if (key == "userName") {
                userNameNonAscii = eightBit;
            }
        } while (reader.Take(','));
        if (!reader.Take('}'))
            return Fail(error, reader, index, "the object does not end");
    }
    if (!haveUserName || !haveFullName || !haveAddresses)
        return Fail(error, reader, index,
                    std::string("\"") + (!haveUserName ? "userName" : !haveFullName ? "fullName" : "emailAddresses") +
                        "\" is missing");
    if (userName.size() > kLongestUserName)
        return Fail(error, reader, index, "\"userName\" is longer than 76 characters");
    if (addresses.empty())
        return Fail(error, reader, index, "\"emailAddresses\" is empty");
    if (addresses.front() != userName)
        return Fail(error, reader, index, "the first of \"emailAddresses\" is not \"userName\"");
    ++figures.accounts;
    figures.aliases += static_cast<long>(addresses.size() - 1);
    if (userNameNonAscii && !nonAscii.front())
        nonAscii.front() = true;
    for (size_t i = 0; i < addresses.size(); ++i)
        if (nonAscii[i])
            figures.nonAsciiAddresses.push_back(addresses[i]);
    return true;
}

} // namespace

bool CheckListAnswer(std::string_view body, ListFigures& figures, std::string& error)
{
    figures = {};
    Reader reader(body);
    if (!reader.Take('['))
        return Fail(error, reader, -1, "the body is not a JSON array");
    if (!reader.Take(']')) {
        long index = 0;
        do {
            if (!ReadAccount(reader, index++, figures, error))
                return false;
        } while (reader.Take(','));
        if (!reader.Take(']'))
            return Fail(error, reader, -1, "the array does not end");
    }
    if (!reader.AtEnd())
        return Fail(error, reader, -1, "text after the array");
    return true;
}
