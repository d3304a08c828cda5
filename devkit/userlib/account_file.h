// The accounts file: a text file that people edit by hand, one account a line.
//
//   # address | full name | password | disabled | frozen | web-config bits | groups
//   admin@example.com | Site Administrator | admin-pass | 0 | 0 | 4 |
//   jose@example.com  | Jos\xE9 M\xFCller   | jose-pass  | 0 | 0 |   | Sales, Support
//
// - Seven fields separated by '|'; spaces and tabs around a field are dropped.
// - disabled and frozen are 0 or 1. Web-config bits are bit numbers 0 to 63,
//   groups are names; both are comma-separated lists that may be empty.
//   Group names compare without regard to ASCII letter case.
// - Every field is bytes in Windows-1252 (the ANSI code page the extension
//   reads names in). The file may be saved as 1252, or kept ASCII with \xHH
//   for one byte (Jos\xE9 is "José") and \\ for one backslash; \x7C writes a
//   '|' and \x2C a ',' inside a field, \x20 a space at its edge.
// - Lines that are empty or start with '#' are skipped; CR LF or LF ends a line.
// - The address has 1 to 76 bytes and is unique without regard to ASCII
//   letter case. A line that breaks a rule is skipped with a note on stderr.
#pragma once

#include "devkit/userlib/account_set.h"

#include <string_view>

// Lines are numbered in notes as "<sourceName>:<line>".
AccountSet ParseAccounts(std::string_view text, std::string_view sourceName);

// A file that cannot be read gives no accounts, with a note on stderr.
AccountSet ReadAccountFile(const char* path);
