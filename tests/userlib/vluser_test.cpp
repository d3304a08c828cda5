// The stand-in user library as the extension binds it: the accounts file
// format, address lookup, the bounded copies, handles and searches across
// reloads, the paths it names, and the sample mail server's accounts.
#include "tests/userlib/server_layout.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

const BindingTable& lib = gUserLibrary;

std::string Email(UserHandle user)
{
    char address[kEmailBufferSize + 1] = {};
    lib.VL_GetEmail(user, address);
    return address;
}

std::string FullName(UserHandle user)
{
    char name[kFullNameBufferSize + 1] = {};
    lib.VL_GetFullName(user, name);
    return name;
}

std::vector<std::string> AllEmails()
{
    std::vector<std::string> emails;
    UserHandle user = kNoUser;
    int64_t search = lib.VL_FindFirst(&user);
    if (search == kNoSearch)
        return emails;
    do
        emails.push_back(Email(user));
    while (lib.VL_FindNext(search, &user));
    lib.VL_FindClose(search);
    return emails;
}

struct Expected {
    const char* address; // as looked up
    const char* email;
    const char* fullName;
    const char* password;
    bool disabled;
    bool frozen;
    std::vector<int> bits;
    std::vector<const char*> groups;
};

// Checks every property of the account, then gives its handle back.
void ExpectAccount(const Expected& e)
{
    SCOPED_TRACE(e.address);
    UserHandle user = lib.VL_GetByEmail(e.address);
    ASSERT_NE(user, kNoUser);
    EXPECT_EQ(Email(user), e.email);
    EXPECT_EQ(FullName(user), e.fullName);
    EXPECT_TRUE(lib.VL_ValidateUser(user, e.password));
    EXPECT_FALSE(lib.VL_ValidateUser(user, (std::string(e.password) + "x").c_str()));
    EXPECT_EQ(lib.VL_GetIsDisabled(user) != 0, e.disabled);
    EXPECT_EQ(lib.VL_GetIsFrozen(user) != 0, e.frozen);
    for (int bit = 0; bit < 64; ++bit)
        EXPECT_EQ(lib.VL_GetWebConfigBit(user, bit) != 0, std::ranges::count(e.bits, bit) == 1) << bit;
    for (const char* group : e.groups)
        EXPECT_TRUE(lib.VL_GroupFindMember(e.address, group)) << group;
    EXPECT_FALSE(lib.VL_GroupFindMember(e.address, "Nobody"));
    lib.VL_GetFree(user);
}

const std::string kLongAddress = std::string(64, 'l') + "@example.com"; // 76 bytes

class StandIn : public ExtensionLoadTest {
protected:
    // Lays out the server with these accounts and loads the extension.
    void Serve(const std::string& accounts)
    {
        library_ = LayOut(accounts);
        ASSERT_EQ(Load(), TRUE);
    }

    int32_t OpenHandles() const { return DevCount(library_, "VL_DevOpenHandleCount"); }
    int32_t Reloads() const { return DevCount(library_, "VL_DevReloadCount"); }

    fs::path library_;
};

TEST_F(StandIn, ReadsEveryFieldOfTheAccountsFile)
{
    Serve("# address | full name | password | disabled | frozen | bits | groups\n"
          "   # an indented comment\n"
          "\n"
          "Ann@Example.com | Ann Lee | ann-pass | 0 | 0 | 4 |\n"
          "bob@example.com|Bob\\x7CBar\\\\|p\\\\w|1|0|0, 4 ,63|Sales, Support\n"
          "jose@example.com\t|\tJos\\xe9 M\\xFCller\t|\t\\x20spaced\\x20 | 0 | 1 | | ,Sales,,\r\n"
          "raw@example.com | Ren\xE9 | raw-pass | 1 | 1 | 1,2 | Sales\n" +
          kLongAddress + " | Long | long-pass | 0 | 0 | | \n");

    const Expected accounts[] = {
        {"ann@example.com", "Ann@Example.com", "Ann Lee", "ann-pass", false, false, {4}, {}},
        {"BOB@EXAMPLE.COM", "bob@example.com", "Bob|Bar\\", "p\\w", true, false, {0, 4, 63}, {"Sales", "support"}},
        {"jose@example.com", "jose@example.com", "Jos\xE9 M\xFCller", " spaced ", false, true, {}, {"Sales"}},
        {"raw@example.com", "raw@example.com", "Ren\xE9", "raw-pass", true, true, {1, 2}, {"SALES"}},
        {kLongAddress.c_str(), kLongAddress.c_str(), "Long", "long-pass", false, false, {}, {}},
    };
    for (const Expected& account : accounts)
        ExpectAccount(account);
    EXPECT_EQ(OpenHandles(), 0);
}

struct BrokenLine {
    const char* name;
    std::string line;
    std::string address;
};

// Names the case in test output.
void PrintTo(const BrokenLine& c, std::ostream* os)
{
    *os << c.name;
}

class AccountsFileRule : public StandIn, public testing::WithParamInterface<BrokenLine> {};

TEST_P(AccountsFileRule, SkipsTheBrokenLineOnly)
{
    const BrokenLine& c = GetParam();
    Serve("first@example.com|First|p|0|0||\n" + c.line + "\nlast@example.com|Last|p|0|0||\n");

    EXPECT_EQ(AllEmails(), (std::vector<std::string>{"first@example.com", "last@example.com"}));
    EXPECT_EQ(lib.VL_GetByEmail(c.address.c_str()), kNoUser);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AccountsFileRule,
    testing::Values(BrokenLine{"SixFields", "x@example.com|X|p|0|0|", "x@example.com"},
                    BrokenLine{"EightFields", "x@example.com|X|p|0|0|||", "x@example.com"},
                    BrokenLine{"EmptyAddress", " |X|p|0|0||", ""},
                    BrokenLine{"AddressOf77Bytes", "l" + kLongAddress + "|X|p|0|0||", "l" + kLongAddress},
                    BrokenLine{"FlagTwo", "x@example.com|X|p|2|0||", "x@example.com"},
                    BrokenLine{"FlagWord", "x@example.com|X|p|0|yes||", "x@example.com"},
                    BrokenLine{"Bit64", "x@example.com|X|p|0|0|64|", "x@example.com"},
                    BrokenLine{"NegativeBit", "x@example.com|X|p|0|0|-1|", "x@example.com"},
                    BrokenLine{"BitWithLetters", "x@example.com|X|p|0|0|4x|", "x@example.com"},
                    BrokenLine{"BadHexEscape", "x@example.com|Jos\\xZ9|p|0|0||", "x@example.com"},
                    BrokenLine{"ShortHexEscape", "x@example.com|X|p\\x4|0|0||", "x@example.com"},
                    BrokenLine{"OtherEscape", "x@example.com|X\\n|p|0|0||", "x@example.com"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StandIn, KeepsTheFirstOfTwoLinesWithOneAddress)
{
    Serve("ann@example.com|First|p|0|0||\nANN@example.com|Second|p|0|0||\n");

    EXPECT_EQ(AllEmails(), std::vector<std::string>{"ann@example.com"});
    UserHandle user = lib.VL_GetByEmail("ann@example.com");
    EXPECT_EQ(FullName(user), "First");
    lib.VL_GetFree(user);
}

TEST_F(StandIn, LooksUpAddressesFoldingAsciiLettersOnly)
{
    Serve("ann@example.com|Ann|p|0|0||\njos\xE9@example.com|Jose|p|0|0||\n");

    for (const char* address : {"ann@example.com", "ANN@EXAMPLE.COM", "jos\xE9@EXAMPLE.com"}) {
        UserHandle user = lib.VL_GetByEmail(address);
        EXPECT_NE(user, kNoUser) << address;
        lib.VL_GetFree(user);
    }
    for (const char* address : {"jos\xC9@example.com", "ann@example.co", "ann@example.com ", ""})
        EXPECT_EQ(lib.VL_GetByEmail(address), kNoUser) << address;
    EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(StandIn, CutsCopiesToTheCallersBuffers)
{
    Serve(kLongAddress + "|" + std::string(40, 'n') + "|p|0|0||\n");
    UserHandle user = lib.VL_GetByEmail(kLongAddress.c_str());

    char buffer[272];
    memset(buffer, 0x55, sizeof buffer);
    lib.VL_GetEmail(user, buffer);
    EXPECT_EQ(std::string(buffer), kLongAddress);
    EXPECT_EQ(buffer[77], 0x55);

    memset(buffer, 0x55, sizeof buffer);
    lib.VL_GetFullName(user, buffer);
    EXPECT_EQ(std::string(buffer), std::string(30, 'n'));
    EXPECT_EQ(buffer[31], 0x55);
    lib.VL_GetFree(user);
}

TEST_F(StandIn, CountsHandlesAndSearchesUntilGivenBack)
{
    Serve("ann@example.com|Ann|p|0|0||\nben@example.com|Ben|p|0|0||\n");
    EXPECT_EQ(OpenHandles(), 0);

    UserHandle first = lib.VL_GetByEmail("ann@example.com");
    UserHandle second = lib.VL_GetByEmail("ann@example.com");
    EXPECT_EQ(lib.VL_GetByEmail("nobody@example.com"), kNoUser);
    UserHandle found = kNoUser;
    int64_t search = lib.VL_FindFirst(&found);
    EXPECT_EQ(OpenHandles(), 3);

    lib.VL_GetFree(first);
    lib.VL_GetFree(second);
    lib.VL_FindClose(search);
    EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(StandIn, SearchWalksEveryAccountInFileOrder)
{
    Serve("zed@example.com|Z|p|0|0||\nann@example.com|A|p|1|0||\nmia@example.com|M|p|0|1||\n");
    EXPECT_EQ(AllEmails(), (std::vector<std::string>{"zed@example.com", "ann@example.com", "mia@example.com"}));
    EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(StandIn, MissingAccountsFileServesNoAccounts)
{
    library_ = server.InstallLibrary(server.appDirectory, "");
    server.WriteMainSettings(server.mainSettings, "");
    server.WriteRegistry(server.appDirectory, server.mainSettings);
    ASSERT_EQ(Load(), TRUE);

    UserHandle user = kNoUser;
    EXPECT_EQ(lib.VL_FindFirst(&user), kNoSearch);
    EXPECT_EQ(lib.VL_GetByEmail("admin@example.com"), kNoUser);
    EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(StandIn, HandlesAndSearchesOutliveAReload)
{
    Serve("ann@example.com|Ann|p|0|0||\nben@example.com|Ben|p|0|0||\n");
    UserHandle ann = lib.VL_GetByEmail("ann@example.com");
    UserHandle walked = kNoUser;
    int64_t search = lib.VL_FindFirst(&walked);

    server.WriteAccounts("cy@example.com|Cy|p|0|0||\nann@example.com|Ann Renamed|p|0|0||\n");
    lib.VL_ReloadUsers();
    EXPECT_EQ(Reloads(), 2);

    EXPECT_EQ(FullName(ann), "Ann");
    ASSERT_TRUE(lib.VL_FindNext(search, &walked));
    EXPECT_EQ(Email(walked), "ben@example.com");
    EXPECT_FALSE(lib.VL_FindNext(search, &walked));
    lib.VL_FindClose(search);
    lib.VL_GetFree(ann);

    UserHandle renamed = lib.VL_GetByEmail("ann@example.com");
    EXPECT_EQ(FullName(renamed), "Ann Renamed");
    lib.VL_GetFree(renamed);
    EXPECT_EQ(AllEmails(), (std::vector<std::string>{"cy@example.com", "ann@example.com"}));
    EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(StandIn, ServesManyThreadsWhileAnotherReloads)
{
    Serve("ann@example.com|Ann|p|0|0||\nben@example.com|Ben|p|0|0||\n");
    std::vector<std::string> wrongNames[4];
    std::vector<std::thread> readers;
    for (auto& wrong : wrongNames)
        readers.emplace_back([&wrong] {
            for (int i = 0; i < 2000; ++i) {
                UserHandle user = lib.VL_GetByEmail("ben@example.com");
                if (std::string name = FullName(user); name != "Ben")
                    wrong.push_back(name);
                lib.VL_GetFree(user);
            }
        });
    for (int i = 0; i < 20; ++i)
        lib.VL_ReloadUsers();
    for (std::thread& reader : readers)
        reader.join();

    for (const auto& wrong : wrongNames)
        EXPECT_TRUE(wrong.empty());
    EXPECT_EQ(Reloads(), 21);
    EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(StandIn, NamesTheFilesOfTheMainSettingsFile)
{
    Serve("");
    const std::pair<int32_t, std::string> paths[] = {
        {kAliasFileId, server.aliases.string()}, {kSettingsFileId, server.settings.string()}, {0, ""}, {13, ""}};
    for (const auto& [fileId, expected] : paths) {
        char path[272];
        memset(path, 0x55, sizeof path);
        lib.VL_GetDBPath(path, fileId);
        EXPECT_EQ(std::string(path), expected) << fileId;
    }
}

TEST_F(StandIn, CutsALongPathToTheLibrarysLimit)
{
    Serve("");
    std::string longPath(300, 'p');
    std::ofstream(server.mainSettings, std::ios::binary) << "[Directories]\r\nSettingsFile=" << longPath << "\r\n";

    char path[272];
    memset(path, 0x55, sizeof path);
    lib.VL_GetDBPath(path, kSettingsFileId);
    EXPECT_EQ(std::string(path), longPath.substr(0, 259));
    EXPECT_EQ(path[260], 0x55);
}

TEST_F(StandIn, ServesTheSampleAccountsAsDocumented)
{
    library_ = server.InstallLibrary(server.appDirectory, "");
    server.WriteMainSettings(server.mainSettings, "", SampleDirectory() / "Accounts.txt");
    server.WriteRegistry(server.appDirectory, server.mainSettings);
    ASSERT_EQ(Load(), TRUE);

    const Expected accounts[] = {
        {"admin@example.com", "admin@example.com", "Site Administrator", "admin-pass", false, false, {4}, {}},
        {"ann.lee@example.com", "ann.lee@example.com", "Ann Lee", "ann-pass", false, false, {}, {}},
        {"jose.muller@example.com", "jose.muller@example.com", "Jos\xE9 M\xFCller", "jose-pass", false, false, {}, {}},
        {"old.staff@example.com", "old.staff@example.com", "Former Staff", "old-pass", true, false, {}, {}},
        {"paul.frost@example.com", "paul.frost@example.com", "Paul Frost", "paul-pass", false, true, {}, {}},
        {"velmora@example.com", "Velmora@example.com", "Velmora System", "system-pass", false, false, {4}, {}},
        {"sara.sales@example.com", "sara.sales@example.com", "Sara Sales", "sara-pass", false, false, {}, {"Sales"}},
    };
    for (const Expected& account : accounts)
        ExpectAccount(account);
    EXPECT_EQ(AllEmails().size(), std::size(accounts));
}

} // namespace
