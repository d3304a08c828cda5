#include "doctor/list_answer.h"

namespace {

constexpr size_t kLongestUserName = 76;

bool IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

bool ListAnswerCheck::Take(std::string_view bytes)
{
    for (char c : bytes) {
        if (failed_ || !Byte(static_cast<unsigned char>(c)))
            return false;
        ++offset_;
    }
    return true;
}

bool ListAnswerCheck::Finish()
{
    if (failed_)
        return false;
    tokenOffset_ = offset_;
    if (inString_ || expect_ != Expect::kNothing)
        return Fail(expect_ == Expect::kArray ? "the body is not a JSON array" : "the array does not end");
    return true;
}

bool ListAnswerCheck::Byte(unsigned char c)
{
    if (inString_)
        return StringByte(c);
    if (IsSpace(c))
        return true;
    tokenOffset_ = offset_;
    if (c == '"') {
        inString_ = true;
        nonAscii_ = false;
        string_.clear();
        return true;
    }
    return Token(static_cast<char>(c));
}

bool ListAnswerCheck::StringByte(unsigned char c)
{
    if (hexLeft_ > 0)
        return HexDigit(c);
    if (escape_) {
        escape_ = false;
        switch (c) {
        case '"': case '\\': case '/': Append(c); return true;
        case 'b': Append('\b'); return true;
        case 'f': Append('\f'); return true;
        case 'n': Append('\n'); return true;
        case 'r': Append('\r'); return true;
        case 't': Append('\t'); return true;
        case 'u': hexLeft_ = 4; unit_ = 0; return true;
        default: return Token('x');
        }
    }
    if (c == '"') {
        inString_ = false;
        return Token('"');
    }
    if (c == '\\') {
        escape_ = true;
        return true;
    }
    if (c < 0x20)
        return Token('x');
    if (c >= 0x80)
        nonAscii_ = true;
    string_ += static_cast<char>(c);
    return string_.size() <= kLongestListString ||
           Fail("a string longer than " + std::to_string(kLongestListString) + " bytes");
}

bool ListAnswerCheck::HexDigit(unsigned char c)
{
    unit_ <<= 4;
    if (c >= '0' && c <= '9')
        unit_ |= static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
        unit_ |= static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        unit_ |= static_cast<uint32_t>(c - 'A' + 10);
    else
        return Token('x');
    if (--hexLeft_ == 0) {
        if (unit_ >= 0x80)
            nonAscii_ = true;
        Append(unit_);
    }
    return true;
}

// To UTF-8; surrogates are kept as they come: the figures need only to
// know which strings are not ASCII.
void ListAnswerCheck::Append(uint32_t unit)
{
    if (unit < 0x80) {
        string_ += static_cast<char>(unit);
    } else if (unit < 0x800) {
        string_ += static_cast<char>(0xC0 | (unit >> 6));
        string_ += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        string_ += static_cast<char>(0xE0 | (unit >> 12));
        string_ += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        string_ += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

// A bad byte inside a string comes here as 'x', which no state takes.
bool ListAnswerCheck::Token(char token)
{
    inString_ = false;
    switch (expect_) {
    case Expect::kArray:
    case Expect::kFirstAccountOrEnd:
    case Expect::kAccount:
    case Expect::kCommaOrArrayEnd:
    case Expect::kNothing: return ArrayToken(token);
    case Expect::kFirstFieldOrEnd:
    case Expect::kField:
    case Expect::kColon:
    case Expect::kString:
    case Expect::kCommaOrObjectEnd: return AccountToken(token);
    case Expect::kAddresses:
    case Expect::kFirstAddressOrEnd:
    case Expect::kAddress:
    case Expect::kCommaOrAddressesEnd: return AddressesToken(token);
    }
    return Fail("not JSON");
}

// The array of accounts around the objects.
bool ListAnswerCheck::ArrayToken(char token)
{
    switch (expect_) {
    case Expect::kArray:
        if (token != '[')
            return Fail("the body is not a JSON array");
        expect_ = Expect::kFirstAccountOrEnd;
        return true;
    case Expect::kFirstAccountOrEnd:
        if (token == ']') {
            expect_ = Expect::kNothing;
            return true;
        }
        [[fallthrough]];
    case Expect::kAccount:
        inAccount_ = true;
        if (token != '{')
            return Fail("not an object");
        seen_ = 0;
        userName_.clear();
        userNameNonAscii_ = false;
        firstAddress_.clear();
        addresses_ = 0;
        expect_ = Expect::kFirstFieldOrEnd;
        return true;
    case Expect::kCommaOrArrayEnd:
        if (token != ',' && token != ']')
            return Fail("the array does not end");
        expect_ = token == ',' ? Expect::kAccount : Expect::kNothing;
        return true;
    default: return Fail("text after the array");
    }
}

// One account's object, but for its addresses.
bool ListAnswerCheck::AccountToken(char token)
{
    switch (expect_) {
    case Expect::kFirstFieldOrEnd:
        if (token == '}')
            return AccountEnds();
        [[fallthrough]];
    case Expect::kField:
        if (token != '"')
            return Fail("not a field name and colon");
        return FieldName();
    case Expect::kColon:
        if (token != ':')
            return Fail("not a field name and colon");
        expect_ = field_ == kEmailAddresses ? Expect::kAddresses : Expect::kString;
        return true;
    case Expect::kString:
        if (token != '"')
            return Fail(std::string("\"") + (field_ == kUserName ? "userName" : "fullName") + "\" is not a string");
        if (field_ == kUserName) {
            userName_ = string_;
            userNameNonAscii_ = userNameNonAscii_ || nonAscii_;
        }
        expect_ = Expect::kCommaOrObjectEnd;
        return true;
    default:
        if (token == ',') {
            expect_ = Expect::kField;
            return true;
        }
        if (token != '}')
            return Fail("the object does not end");
        return AccountEnds();
    }
}

// "emailAddresses": the account's own address first, then its aliases.
bool ListAnswerCheck::AddressesToken(char token)
{
    constexpr char kNotStrings[] = "\"emailAddresses\" is not an array of strings";
    switch (expect_) {
    case Expect::kAddresses:
        if (token != '[')
            return Fail(kNotStrings);
        expect_ = Expect::kFirstAddressOrEnd;
        return true;
    case Expect::kFirstAddressOrEnd:
        if (token == ']') {
            expect_ = Expect::kCommaOrObjectEnd;
            return true;
        }
        [[fallthrough]];
    case Expect::kAddress:
        if (token != '"')
            return Fail(kNotStrings);
        Address();
        expect_ = Expect::kCommaOrAddressesEnd;
        return true;
    default:
        if (token != ',' && token != ']')
            return Fail(kNotStrings);
        expect_ = token == ',' ? Expect::kAddress : Expect::kCommaOrObjectEnd;
        return true;
    }
}

// The account's own address is judged with its userName when the object
// ends; an alias that is not ASCII is counted here.
void ListAnswerCheck::Address()
{
    if (addresses_++ == 0) {
        firstAddress_ = string_;
        userNameNonAscii_ = userNameNonAscii_ || nonAscii_;
    } else if (nonAscii_) {
        ++figures_.nonAsciiAddresses;
        if (figures_.nonAsciiExamples.size() < kNonAsciiExamples)
            figures_.nonAsciiExamples.push_back(string_);
    }
}

bool ListAnswerCheck::FieldName()
{
    if (string_ == "userName")
        field_ = kUserName;
    else if (string_ == "fullName")
        field_ = kFullName;
    else if (string_ == "emailAddresses")
        field_ = kEmailAddresses;
    else
        return Fail("a field the schema does not allow: \"" + string_ + "\"");
    if (seen_ & field_)
        return Fail("\"" + string_ + "\" twice");
    seen_ |= field_;
    expect_ = Expect::kColon;
    return true;
}

bool ListAnswerCheck::AccountEnds()
{
    if (seen_ != (kUserName | kFullName | kEmailAddresses))
        return Fail(std::string("\"") +
                    (!(seen_ & kUserName) ? "userName" : !(seen_ & kFullName) ? "fullName" : "emailAddresses") +
                    "\" is missing");
    if (userName_.size() > kLongestUserName)
        return Fail("\"userName\" is longer than 76 characters");
    if (addresses_ == 0)
        return Fail("\"emailAddresses\" is empty");
    if (firstAddress_ != userName_)
        return Fail("the first of \"emailAddresses\" is not \"userName\"");
    ++figures_.accounts;
    figures_.aliases += addresses_ - 1;
    if (userNameNonAscii_) {
        ++figures_.nonAsciiAddresses;
        if (figures_.nonAsciiExamples.size() < kNonAsciiExamples)
            figures_.nonAsciiExamples.push_back(firstAddress_);
    }
    inAccount_ = false;
    expect_ = Expect::kCommaOrArrayEnd;
    return true;
}

bool ListAnswerCheck::Fail(const std::string& what)
{
    error_ = (inAccount_ ? "account " + std::to_string(figures_.accounts + 1) + ": " : std::string()) + what +
             " (at byte " + std::to_string(tokenOffset_) + ")";
    failed_ = true;
    return false;
}

bool CheckListAnswer(std::string_view body, ListFigures& figures, std::string& error)
{
    ListAnswerCheck check;
    bool good = check.Take(body) && check.Finish();
    figures = check.Figures();
    error = check.Error();
    return good;
}
