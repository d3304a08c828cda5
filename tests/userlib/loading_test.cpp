// Loading the user library through the real sequence: registry, main
// settings file, library type, library path, every entry point bound, the
// first reload. Every refusal leaves the library unloaded.
#include "tests/userlib/server_layout.h"

#include <array>

namespace {

constexpr char kAdmin[] = "admin@example.com | Admin | admin-pass | 0 | 0 | 4 |\n";

// Each slot of the binding table with the name it is bound by.
std::array<std::pair<void*, const char*>, 14> BoundSlots()
{
    const BindingTable& lib = gUserLibrary;
    auto slot = [](auto entry) { return reinterpret_cast<void*>(entry); };
    return {{{slot(lib.VL_ReloadUsers), "VL_ReloadUsers"},
             {slot(lib.VL_GetDBPath), "VL_GetDBPath"},
             {slot(lib.VL_GetByEmail), "VL_GetByEmail"},
             {slot(lib.VL_GetIsDisabled), "VL_GetIsDisabled"},
             {slot(lib.VL_GetIsFrozen), "VL_GetIsFrozen"},
             {slot(lib.VL_GetWebConfigBit), "VL_GetWebConfigBit"},
             {slot(lib.VL_ValidateUser), "VL_ValidateUser"},
             {slot(lib.VL_GetFree), "VL_GetFree"},
             {slot(lib.VL_FindFirst), "VL_FindFirst"},
             {slot(lib.VL_FindNext), "VL_FindNext"},
             {slot(lib.VL_FindClose), "VL_FindClose"},
             {slot(lib.VL_GetEmail), "VL_GetEmail"},
             {slot(lib.VL_GetFullName), "VL_GetFullName"},
             {slot(lib.VL_GroupFindMember), "VL_GroupFindMember"}}};
}

class LibraryType : public ExtensionLoadTest, public testing::WithParamInterface<const char*> {};

TEST_P(LibraryType, SelectsTheLibraryAndBindsEveryEntryPoint)
{
    std::string type = GetParam();
    // Only the selected library is there to be found.
    fs::path library = server.InstallLibrary(server.appDirectory, type);
    server.WriteAccounts(kAdmin);
    server.WriteMainSettings(server.mainSettings, type);
    server.WriteRegistry(server.appDirectory, server.mainSettings);

    ASSERT_EQ(Load(), TRUE);
    ASSERT_TRUE(IsLoaded(library));
    for (auto [slot, name] : BoundSlots())
        EXPECT_EQ(slot, LoadedExport(library, name)) << name;
    EXPECT_EQ(DevCount(library, "VL_DevReloadCount"), 1);
    EXPECT_EQ(DevCount(library, "VL_DevOpenHandleCount"), 0);

    TerminateExtension(0);
    EXPECT_FALSE(IsLoaded(library));
}

INSTANTIATE_TEST_SUITE_P(Types, LibraryType, testing::Values("", "X"),
                         [](const auto& info) { return info.param[0] ? std::string(info.param) : "Plain"; });

enum class Key { kAbsent, kNoAppPath, kNoIniPath, kEmptyAppPath, kEmptyIniPath, kComplete };

struct RefusalCase {
    const char* name;
    Key key;
    const char* libraryType;
    bool libraryInstalled;
};

// Names the case in test output.
void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name;
}

class Refusal : public ExtensionLoadTest, public testing::WithParamInterface<RefusalCase> {
protected:
    void WriteKey(Key key)
    {
        std::string app = server.appDirectory.string(), ini = server.mainSettings.string();
        switch (key) {
        case Key::kAbsent: server.RemoveRegistryKey(); break;
        case Key::kNoAppPath: server.WriteRegistry({{"IniPath", ini}}); break;
        case Key::kNoIniPath: server.WriteRegistry({{"AppPath", app}}); break;
        case Key::kEmptyAppPath: server.WriteRegistry({{"AppPath", ""}, {"IniPath", ini}}); break;
        case Key::kEmptyIniPath: server.WriteRegistry({{"AppPath", app}, {"IniPath", ""}}); break;
        case Key::kComplete: server.WriteRegistry(app, ini); break;
        }
    }
};

TEST_P(Refusal, FailsAndLeavesNothingLoaded)
{
    const RefusalCase& c = GetParam();
    fs::path library = server.appDirectory / LibraryFileName(c.libraryType);
    if (c.libraryInstalled)
        server.InstallLibrary(server.appDirectory, c.libraryType);
    server.WriteAccounts(kAdmin);
    server.WriteMainSettings(server.mainSettings, c.libraryType);
    WriteKey(c.key);

    EXPECT_EQ(Load(), FALSE);
    EXPECT_FALSE(IsLoaded(library));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusal,
    testing::Values(RefusalCase{"NoRegistryKey", Key::kAbsent, "", true},
                    RefusalCase{"NoAppPath", Key::kNoAppPath, "", true},
                    RefusalCase{"NoIniPath", Key::kNoIniPath, "", true},
                    RefusalCase{"EmptyAppPath", Key::kEmptyAppPath, "", true},
                    RefusalCase{"EmptyIniPath", Key::kEmptyIniPath, "", true},
                    RefusalCase{"MissingLibrary", Key::kComplete, "", false},
                    RefusalCase{"LibraryOfAnotherType", Key::kComplete, "X", false},
                    RefusalCase{"LacksGetIsFrozen", Key::kComplete, "NoFrozen", true},
                    RefusalCase{"LacksReloadUsers", Key::kComplete, "NoReload", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The main settings file selects VLUserX, so the load succeeds only when its
// path was read whole.
class IniPathLength : public ExtensionLoadTest, public testing::WithParamInterface<std::pair<size_t, BOOL>> {};

TEST_P(IniPathLength, IsReadWholeUpTo253Characters)
{
    auto [length, loads] = GetParam();
    fs::path mainSettings = server.PathOfLength(length);
    ASSERT_EQ(mainSettings.string().size(), length);
    fs::path library = server.InstallLibrary(server.appDirectory, "X");
    server.WriteAccounts(kAdmin);
    server.WriteMainSettings(mainSettings, "X");
    server.WriteRegistry(server.appDirectory, mainSettings);

    EXPECT_EQ(Load(), loads);
    EXPECT_EQ(IsLoaded(library), loads == TRUE);
}

INSTANTIATE_TEST_SUITE_P(Lengths, IniPathLength,
                         testing::Values(std::pair<size_t, BOOL>{253, TRUE}, std::pair<size_t, BOOL>{254, FALSE}),
                         [](const auto& info) { return std::to_string(info.param.first); });

struct LibraryPathCase {
    size_t length;
    const char* libraryType;
    BOOL loads;
};

// Names the case in test output.
void PrintTo(const LibraryPathCase& c, std::ostream* os)
{
    *os << c.length << " " << c.libraryType;
}

class LibraryPathLength : public ExtensionLoadTest, public testing::WithParamInterface<LibraryPathCase> {};

TEST_P(LibraryPathLength, LoadsUpTo255Characters)
{
    const LibraryPathCase& c = GetParam();
    size_t separatorAndName = 1 + LibraryFileName(c.libraryType).size();
    fs::path directory = server.PathOfLength(c.length - separatorAndName);
    fs::path library = server.InstallLibrary(directory, c.libraryType);
    ASSERT_EQ(library.string().size(), c.length);
    server.WriteAccounts(kAdmin);
    server.WriteMainSettings(server.mainSettings, c.libraryType);
    server.WriteRegistry(directory, server.mainSettings);

    EXPECT_EQ(Load(), c.loads);
    EXPECT_EQ(IsLoaded(library), c.loads == TRUE);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LibraryPathLength,
                         testing::Values(LibraryPathCase{255, "", TRUE}, LibraryPathCase{256, "", FALSE},
                                         LibraryPathCase{255, "X", TRUE}, LibraryPathCase{256, "X", FALSE}),
                         [](const auto& info) {
                             return std::to_string(info.param.length) + (info.param.libraryType[0] ? "X" : "");
                         });

// Loaded twice without being unloaded in between, the extension holds the
// library once: one unload lets it go.
TEST_F(ExtensionLoadTest, LoadingAgainLetsTheFirstLibraryGo)
{
    fs::path library = LayOut(kAdmin);
    ASSERT_EQ(Load(), TRUE);
    ASSERT_EQ(Load(), TRUE);
    EXPECT_EQ(DevCount(library, "VL_DevReloadCount"), 1);

    TerminateExtension(0);
    EXPECT_FALSE(IsLoaded(library));
}

#ifdef DEPENDENCY_LIBRARY
// The library's own DLL lies beside it, in a folder that is neither on PATH
// nor beside the test program: Windows finds it there only when the library
// is loaded with the altered search path.
TEST_F(ExtensionLoadTest, FindsTheLibrarysOwnDllBesideIt)
{
    fs::path library = server.InstallLibrary(server.appDirectory, "Dependent");
    fs::copy_file(fs::path(DEPENDENCY_LIBRARY).make_preferred(), server.appDirectory / "VLDependency.dll");
    server.WriteAccounts(kAdmin);
    server.WriteMainSettings(server.mainSettings, "Dependent");
    server.WriteRegistry(server.appDirectory, server.mainSettings);

    ASSERT_EQ(LoadLibraryA(library.string().c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    ASSERT_EQ(Load(), TRUE);
    EXPECT_TRUE(IsLoaded(library));
    EXPECT_EQ(reinterpret_cast<void*>(gUserLibrary.VL_GetIsFrozen), LoadedExport(library, "VL_GetIsFrozen"));
}
#endif

} // namespace
