// The body of a list answer held to its documented shape: an array of
// accounts, each exactly {"userName", "fullName", "emailAddresses"}, the
// account's own address first among at least one. Checked as it arrives,
// piece by piece, keeping only the account at hand, so that a list of any
// length costs the same memory; written small, so that the doctor needs no
// JSON library.
#pragma once

#include "doctor/probe_transport.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ListFigures {
    long accounts = 0;
    long aliases = 0; // addresses after each account's own
    // Addresses holding bytes above 0x7F: sent in the server's code page,
    // they make the body invalid UTF-8 for a strict client. All are
    // counted; the first kNonAsciiExamples are kept.
    long nonAsciiAddresses = 0;
    std::vector<std::string> nonAsciiExamples;
};

constexpr size_t kNonAsciiExamples = 10;
// No string of the answer is near this long: an address is at most 76
// bytes, a full name 30 characters.
constexpr size_t kLongestListString = 4096;
// Nine times a million accounts' list: more than any list of accounts.
constexpr uint64_t kLongestListAnswer = uint64_t(1) << 30;

class ListAnswerCheck : public BodyReader {
public:
    // False once the body cannot match, with Error() saying where and what.
    bool Take(std::string_view bytes) override;
    // After the last byte: false, with Error(), when the body did not match
    // or ended early.
    bool Finish();

    const ListFigures& Figures() const { return figures_; }
    const std::string& Error() const { return error_; }

private:
    // What the grammar takes next.
    enum class Expect {
        kArray,
        kFirstAccountOrEnd,
        kAccount,
        kCommaOrArrayEnd,
        kFirstFieldOrEnd,
        kField,
        kColon,
        kString,
        kAddresses,
        kFirstAddressOrEnd,
        kAddress,
        kCommaOrAddressesEnd,
        kCommaOrObjectEnd,
        kNothing,
    };
    enum Field : unsigned { kUserName = 1, kFullName = 2, kEmailAddresses = 4 };

    bool Byte(unsigned char c);
    bool StringByte(unsigned char c);
    bool HexDigit(unsigned char c);
    void Append(uint32_t unit);
    // A token: a structural character, or '"' for the string just read.
    bool Token(char token);
    bool ArrayToken(char token);
    bool AccountToken(char token);
    bool AddressesToken(char token);
    void Address();
    bool FieldName();
    bool AccountEnds();
    bool Fail(const std::string& what);

    Expect expect_ = Expect::kArray;
    // The string being read.
    bool inString_ = false;
    bool escape_ = false;
    int hexLeft_ = 0;
    uint32_t unit_ = 0;
    bool nonAscii_ = false;
    std::string string_;
    // The account being read.
    unsigned seen_ = 0;
    Field field_ = kUserName;
    std::string userName_;
    bool userNameNonAscii_ = false;
    std::string firstAddress_;
    long addresses_ = 0;
    bool inAccount_ = false;

    uint64_t offset_ = 0; // of the byte at hand
    uint64_t tokenOffset_ = 0;
    bool failed_ = false;
    ListFigures figures_;
    std::string error_;
};

// The whole body at once: false, with where and what, when it is not such an array.
bool CheckListAnswer(std::string_view body, ListFigures& figures, std::string& error);
