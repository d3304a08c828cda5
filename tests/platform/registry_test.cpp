// Reading the registry as the extension does, from registry-editor text: on
// Windows imported with regedit, on Linux read from VELMORA_REGISTRY_FILE.
#include "platform/win32.h"
#include "tests/not_a_file.h"
#include "tests/platform/scratch_files.h"
#ifndef _WIN32
#include "platform/linux/registry_file.h"
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kValueLimit = 254; // the extension's buffer for a registry value
const std::string k253(253, 'x');
const std::string k254(254, 'y');

// Makes this registry-editor text what the registry holds. Windows imports it
// into the one registry, so every fixture uses keys of its own.
void LoadRegistry(const std::string& fileName, const std::string& text)
{
    std::string path = ScratchPath(fileName);
    WriteBytes(path, text);
#ifdef _WIN32
    ASSERT_EQ(system(("regedit /S \"" + path + "\"").c_str()), 0);
#else
    setenv("VELMORA_REGISTRY_FILE", path.c_str(), 1);
#endif
}

const std::vector<std::string> kRegedit4 = {
    "REGEDIT4",
    "",
    "; the mail server's key, as an installation writes it",
    "[HKEY_LOCAL_MACHINE\\Software\\Norvane\\VelmoraTest]",
    "\"AppPath\"=\"C:\\\\Velmora\\\\App\"",
    "\"Quoted\"=\"say \\\"hi\\\"\"",
    "\"Empty\"=\"\"",
    "\"Limit\"=\"" + k253 + "\"",
    "\"OverLimit\"=\"" + k254 + "\"",
    "\"Count\"=dword:0000abcd",
    "\"Spaced\" = \"value\" ; a comment after the value",
    "@=\"default\"",
    "\"Gone\"=\"soon\"",
    "\"Gone\"=- ; no longer used",
    "",
    "[HKEY_LOCAL_MACHINE\\Software\\Norvane\\VelmoraTest\\Sub]",
    "\"Inner\"=\"inner\"",
};

const std::vector<std::string> kVersion5 = {
    "Windows Registry Editor Version 5.00",
    "",
    "[HKEY_LOCAL_MACHINE\\Software\\Norvane\\VelmoraTest5]",
    "\"IniPath\"=\"C:\\\\Velmora\\\\App\\\\Velmora.ini\"",
};

class RegistryFile : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // One CR LF file and one LF file, imported one after the other.
        LoadRegistry("version5.reg", Joined(kVersion5, "\n"));
        LoadRegistry("regedit4.reg", Joined(kRegedit4, "\r\n"));
#ifndef _WIN32
        // Linux reads one file: both in one, as two imports leave Windows.
        std::vector<std::string> both = kRegedit4;
        both.insert(both.end(), kVersion5.begin() + 1, kVersion5.end());
        LoadRegistry("both.reg", Joined(both, "\r\n"));
#endif
    }
};

struct ValueCase {
    const char* key;
    const char* name; // nullptr: the key's default value
    DWORD type;
    std::string data;
};

// Printed by name, so that test names stay the same from run to run.
void PrintTo(const ValueCase& c, std::ostream* os)
{
    *os << testing::PrintToString(std::string(c.key) + "/" + (c.name ? c.name : "@"));
}

class RegistryValues : public RegistryFile, public testing::WithParamInterface<ValueCase> {};

TEST_P(RegistryValues, ReadThroughTheExtensionsBuffer)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, GetParam().key, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    BYTE data[kValueLimit];
    DWORD size = kValueLimit;
    DWORD type = REG_NONE;
    LONG result = RegQueryValueExA(key, GetParam().name, nullptr, &type, data, &size);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(result, ERROR_SUCCESS);
    EXPECT_EQ(type, GetParam().type);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), GetParam().data);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryValues,
    testing::Values(
        ValueCase{"Software\\Norvane\\VelmoraTest", "AppPath", REG_SZ, "C:\\Velmora\\App\0"s},
        // Key paths and value names compare without regard to letter case.
        ValueCase{"SOFTWARE\\norvane\\velmoraTEST", "apppath", REG_SZ, "C:\\Velmora\\App\0"s},
        // A trailing backslash names the same key.
        ValueCase{"Software\\Norvane\\VelmoraTest\\", "AppPath", REG_SZ, "C:\\Velmora\\App\0"s},
        ValueCase{"Software\\Norvane\\VelmoraTest", "Quoted", REG_SZ, "say \"hi\"\0"s},
        ValueCase{"Software\\Norvane\\VelmoraTest", "Empty", REG_SZ, "\0"s},
        // 253 characters and their terminating zero fill the buffer exactly.
        ValueCase{"Software\\Norvane\\VelmoraTest", "Limit", REG_SZ, k253 + '\0'},
        ValueCase{"Software\\Norvane\\VelmoraTest", "Count", REG_DWORD, "\xCD\xAB\0\0"s},
        ValueCase{"Software\\Norvane\\VelmoraTest", "Spaced", REG_SZ, "value\0"s},
        ValueCase{"Software\\Norvane\\VelmoraTest", nullptr, REG_SZ, "default\0"s},
        ValueCase{"Software\\Norvane\\VelmoraTest", "", REG_SZ, "default\0"s},
        ValueCase{"Software\\Norvane\\VelmoraTest\\Sub", "Inner", REG_SZ, "inner\0"s},
        ValueCase{"Software\\Norvane\\VelmoraTest5", "IniPath", REG_SZ, "C:\\Velmora\\App\\Velmora.ini\0"s}));

// One character more than fits: no value, and the size it would need.
TEST_F(RegistryFile, ValueOverTheLimitGivesMoreData)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Norvane\\VelmoraTest", 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    BYTE data[kValueLimit];
    DWORD size = kValueLimit;
    EXPECT_EQ(RegQueryValueExA(key, "OverLimit", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 255u);
    RegCloseKey(key);
}

TEST_F(RegistryFile, SizeAndTypeWithoutData)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Norvane\\VelmoraTest", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD size = 0;
    DWORD type = REG_NONE;
    EXPECT_EQ(RegQueryValueExA(key, "OverLimit", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 255u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    RegCloseKey(key);
}

// A value never set, and one deleted by a later line with a comment after the "-".
TEST_F(RegistryFile, MissingValueIsNotFound)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Norvane\\VelmoraTest", 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    for (const char* name : {"IniPath", "Gone"}) {
        BYTE data[kValueLimit];
        DWORD size = kValueLimit;
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND) << name;
    }
    RegCloseKey(key);
}

class MissingKeys : public RegistryFile, public testing::WithParamInterface<const char*> {};

TEST_P(MissingKeys, AreNotFound)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, GetParam(), 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
}

INSTANTIATE_TEST_SUITE_P(Table, MissingKeys,
                         testing::Values("Software\\Norvane\\VelmoraTestMissing",
                                         "Software\\Norvane\\VelmoraTest\\Sub\\Deeper",
                                         "Software\\Norvane\\VelmoraTe"));

// A key that holds only other keys opens, as every key on the way does.
TEST_F(RegistryFile, ParentKeyOpensWithoutValues)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Norvane", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "AppPath", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

// Text that does not begin with a registry-editor header is not imported.
TEST(RegistryFileHeader, IsRequired)
{
    LoadRegistry("headerless.reg", "[HKEY_LOCAL_MACHINE\\Software\\Norvane\\VelmoraHeaderless]\r\n\"A\"=\"a\"\r\n");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Norvane\\VelmoraHeaderless", 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
}

#ifndef _WIN32
// What only the Linux registry file has: its location and its byte-order mark.
// Wine's regedit rejects a UTF-8 file that begins with a byte-order mark;
// editors add one, so the Linux registry reads past it.
TEST(LinuxRegistryFile, ByteOrderMarkIsTolerated)
{
    LoadRegistry("marked.reg", "\xEF\xBB\xBFREGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Marked]\n\"A\"=\"a\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Marked", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    char data[4];
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "A", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size), ERROR_SUCCESS);
    EXPECT_STREQ(data, "a");
    RegCloseKey(key);
}

TEST(LinuxRegistryFile, MissingFileIsAnEmptyRegistry)
{
    setenv("VELMORA_REGISTRY_FILE", ScratchPath(".reg").c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
}

// The variable names the file; unset, the default does; set but empty, it
// names none, rather than the default.
TEST(LinuxRegistryFile, LocationFollowsTheVariable)
{
    const struct {
        const char* variable;
        const char* path;
    } cases[] = {{"/srv/velmora/registry.reg", "/srv/velmora/registry.reg"},
                 {nullptr, "/etc/velmora/registry.reg"},
                 {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(LocateRegistryFile(c.variable).path, c.path) << (c.variable ? c.variable : "unset");
}

// A device, a pipe or a folder in the file's place is an empty registry at
// once: reading one would never end.
class LinuxRegistryNotAFile : public testing::TestWithParam<NotAFileKind> {};

TEST_P(LinuxRegistryNotAFile, IsAnEmptyRegistry)
{
    NotAFile object(GetParam(), ScratchPath("object"));
    setenv("VELMORA_REGISTRY_FILE", object.Path().c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(AnsweredWithinASecond([&] { return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_QUERY_VALUE, &key); }),
              ERROR_FILE_NOT_FOUND);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LinuxRegistryNotAFile, testing::ValuesIn(kNotAFileKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

// A file larger than any export of a few keys is an empty registry, unread;
// one of exactly the limit still reads.
TEST(LinuxRegistryFile, LargerThanAnyExportIsAnEmptyRegistry)
{
    constexpr uintmax_t kLimit = kLargestSettingsFile;
    const struct {
        uintmax_t size;
        LONG opened;
    } cases[] = {{kLimit, ERROR_SUCCESS}, {kLimit + 1, ERROR_FILE_NOT_FOUND}};
    for (const auto& c : cases) {
        std::string path = ScratchPath("large.reg");
        WriteBytes(path, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Large]\n\"A\"=\"a\"\n");
        std::filesystem::resize_file(path, c.size);
        setenv("VELMORA_REGISTRY_FILE", path.c_str(), 1);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Large", 0, KEY_QUERY_VALUE, &key), c.opened) << c.size;
        if (key)
            RegCloseKey(key);
    }
}
#endif

} // namespace
