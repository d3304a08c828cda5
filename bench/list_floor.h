// The floor of a list request: what the user library and the data make
// unavoidable, and nothing else. One enumeration as the list command makes
// it (VL_FindFirst; per account VL_GetEmail, the reserved-prefix test,
// VL_GroupFindMember per configured group up to the first hit, VL_GetFullName
// for listed accounts, VL_FindNext; VL_FindClose), one read of the alias file
// into a fresh buffer split into lines, and one copy of as many bytes as the
// answer's body has into a fresh buffer.
#pragma once

#include <string>
#include <vector>

struct FloorInput {
    std::string aliasFile;
    std::vector<std::string> groups;
    std::string body; // copied whole by each pass
};

// Runs one pass through the loaded user library; the result only keeps the
// work from being optimised away.
size_t RunListFloor(const FloorInput& input);
