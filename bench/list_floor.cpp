#include "bench/list_floor.h"

#include "platform/ascii.h"
#include "userlib/user_library.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Keeps the compiler from dropping writes that nothing reads afterwards.
void KeepWritten(const void* bytes)
{
    asm volatile("" : : "r"(bytes) : "memory");
}

size_t Enumerate(const std::vector<std::string>& groups)
{
    UserHandle user = kNoUser;
    int64_t search = gUserLibrary.VL_FindFirst(&user);
    if (search == kNoSearch)
        return 0;
    size_t listed = 0;
    do {
        char address[kEmailBufferSize + 1];
        gUserLibrary.VL_GetEmail(user, address);
        if (StartsWithIgnoringAsciiCase(address, "Velmora@"))
            continue;
        bool member = groups.empty();
        for (size_t i = 0; i < groups.size() && !member; ++i)
            member = gUserLibrary.VL_GroupFindMember(address, groups[i].c_str());
        if (!member)
            continue;
        char fullName[kFullNameBufferSize + 1];
        gUserLibrary.VL_GetFullName(user, fullName);
        listed += static_cast<unsigned char>(fullName[0]) + 1;
    } while (gUserLibrary.VL_FindNext(search, &user));
    gUserLibrary.VL_FindClose(search);
    return listed;
}

size_t ReadLines(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return 0;
    fseek(file, 0, SEEK_END);
    size_t size = static_cast<size_t>(ftell(file));
    fseek(file, 0, SEEK_SET);
    auto text = std::make_unique_for_overwrite<char[]>(size);
    size_t read = fread(text.get(), 1, size, file);
    fclose(file);
    KeepWritten(text.get());
    size_t lines = 0;
    for (const char* at = text.get(); const void* end = memchr(at, '\n', read - (at - text.get()));
         at = static_cast<const char*>(end) + 1)
        ++lines;
    return lines;
}

size_t CopyBody(const std::string& body)
{
    auto copy = std::make_unique_for_overwrite<char[]>(body.size());
    memcpy(copy.get(), body.data(), body.size());
    KeepWritten(copy.get());
    return static_cast<unsigned char>(copy[body.size() / 2]);
}

} // namespace

size_t RunListFloor(const FloorInput& input)
{
    return Enumerate(input.groups) + ReadLines(input.aliasFile) + CopyBody(input.body);
}
