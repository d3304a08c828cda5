#include "doctor/password.h"

#include "doctor/system.h"
#include "platform/wiping.h"

#include <cstdio>

Password::~Password()
{
    WipeString(text_);
}

bool ReadPassword(const std::string& address, Password& password)
{
    if (InputIsTerminal())
        return ReadPasswordFromTerminal("Password for " + address + ": ", password.text());
    bool read = false;
    for (int c = getchar(); c != EOF; c = getchar()) {
        read = true;
        if (c == '\n')
            break;
        password.text() += static_cast<char>(c);
    }
    // A line written on Windows ends in CR LF.
    if (!password.text().empty() && password.text().back() == '\r')
        password.text().pop_back();
    return read;
}
