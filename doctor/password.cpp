#include "doctor/password.h"

#include "doctor/system.h"
#include "platform/wiping.h"

Password::~Password()
{
    WipeString(text_);
}

PasswordRead ReadPassword(const std::string& address, Password& password)
{
    if (InputIsTerminal())
        return ReadPasswordFromTerminal("Password for " + address + ": ", password.text());
    return ReadInputLine(password.text());
}

PasswordRead ReadInputLine(std::string& line)
{
    char byte = 0;
    WipedOnExit wiped(&byte, sizeof byte);
    bool read = false;
    while (ReadInputByte(byte)) {
        read = true;
        if (byte == '\n')
            break;
        // One byte over the limit is taken for a CR that may end the line.
        if (line.size() > kPasswordLimit)
            return PasswordRead::kTooLong;
        line += byte;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kPasswordLimit)
        return PasswordRead::kTooLong;
    return read ? PasswordRead::kRead : PasswordRead::kNone;
}

namespace {

std::string TooLong(const std::string& address)
{
    return "the password for " + address + " is longer than the " + std::to_string(kPasswordLimit) +
           " bytes the doctor reads";
}

} // namespace

TwoPasswords ReadTwoPasswords(const std::string& firstAddress, Password& first, const std::string& secondAddress,
                              Password& second)
{
    TwoPasswords read;
    PasswordRead result = firstAddress.empty() ? PasswordRead::kRead : ReadPassword(firstAddress, first);
    read.firstGiven = result == PasswordRead::kRead;
    if (result == PasswordRead::kTooLong) {
        read.tooLong = TooLong(firstAddress);
        return read;
    }
    result = secondAddress.empty() ? PasswordRead::kRead
             : read.firstGiven     ? ReadPassword(secondAddress, second)
                                   : PasswordRead::kNone;
    read.secondGiven = result == PasswordRead::kRead;
    if (result == PasswordRead::kTooLong)
        read.tooLong = TooLong(secondAddress);
    return read;
}
