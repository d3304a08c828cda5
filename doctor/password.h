// The password for --check-caller and --check-auth.
#pragma once

#include <cstddef>
#include <string>

// The longest password the doctor reads; a longer one is refused before
// more of it is read, so that an endless standard input cannot grow the
// doctor.
constexpr size_t kPasswordLimit = 1024;

// A password that is wiped when it goes. Its storage is reserved whole up
// front, so that reading never moves it and leaves a copy behind.
class Password {
public:
    Password() { text_.reserve(kPasswordLimit + 1); } // and a CR that ends the line
    ~Password();
    Password(const Password&) = delete;
    Password& operator=(const Password&) = delete;

    std::string& text() { return text_; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

enum class PasswordRead { kRead, kNone, kTooLong };

// Asks on the terminal without echo, or reads one line of standard input
// when that is not a terminal. Standard input is read straight from the
// system, one byte at a time, so that no buffer but the password's own
// ever holds it, and the next line stays there for the next password.
PasswordRead ReadPassword(const std::string& address, Password& password);

// The passwords for two addresses, the caller's first; the second is asked
// only when the first was given. An empty address asks for none, and reads
// as given.
struct TwoPasswords {
    bool firstGiven = false;
    bool secondGiven = false;
    // The refusal of a password over the limit, or empty.
    std::string tooLong;
};
TwoPasswords ReadTwoPasswords(const std::string& firstAddress, Password& first, const std::string& secondAddress,
                              Password& second);

// One line of standard input, without its line end (LF, or CR LF as
// written on Windows), at most kPasswordLimit bytes.
PasswordRead ReadInputLine(std::string& line);
