// The password for --check-caller and --check-auth.
#pragma once

#include <string>

// A password that is wiped when it goes.
class Password {
public:
    Password() { text_.reserve(1024); } // room enough that reading never moves it
    ~Password();
    Password(const Password&) = delete;
    Password& operator=(const Password&) = delete;

    std::string& text() { return text_; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Asks on the terminal without echo, or reads one line of standard input
// when that is not a terminal. False when nothing could be read.
bool ReadPassword(const std::string& address, Password& password);
