// The body of a list answer held to its documented shape: an array of
// accounts, each exactly {"userName", "fullName", "emailAddresses"}, the
// account's own address first among at least one. Written small, so that
// the doctor needs no JSON library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ListFigures {
    long accounts = 0;
    long aliases = 0; // addresses after each account's own
    // Addresses holding bytes above 0x7F: sent in the server's code page,
    // they make the body invalid UTF-8 for a strict client.
    std::vector<std::string> nonAsciiAddresses;
};

// False, with where and what, when the body is not such an array.
bool CheckListAnswer(std::string_view body, ListFigures& figures, std::string& error);
