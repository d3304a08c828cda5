// The list command and the alias file reader against their reference
// (reference_list.h, the implementation they replaced): over many generated
// mail servers, the alias table, the doctor's counts of ignored lines and the
// whole list answer must be the same, byte for byte.
//
// Each server is made from a seed: accounts whose addresses come in any
// letter case (some reserved, some in the configured groups) and whose full
// names hold every kind of byte, and an alias file with every kind of line:
// comments, lines without "=", wildcard and macro aliases in any case, lines
// over 511 bytes cut before or after the "=", CR LF, LF and lone CR, 0x1A,
// zero bytes, blanks at either end, capitals, duplicates, aliases of unknown
// targets, targets that differ only in letter case, and bytes that JSON
// escapes.
#include "tests/commands/alias_table.h"
#include "tests/commands/reference_list.h"
#include "tests/fake_host.h"
#include "tests/fake_user_library.h"
#include "tests/temp_directory.h"

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr char kCaller[] = "Velmora@example.com";
constexpr char kCallerPassword[] = "caller";

// Takes only raw output of the engine, which the standard fixes, so that a
// seed makes the same server everywhere.
class Dice {
public:
    explicit Dice(uint32_t seed) : engine_(seed) {}
    uint32_t Below(uint32_t count) { return static_cast<uint32_t>(engine_() % count); }
    bool OneIn(uint32_t count) { return Below(count) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&choices)[N])
    {
        return choices[Below(N)];
    }

private:
    std::mt19937 engine_;
};

// A byte of a full name: control bytes, the quote, the backslash, DEL, the
// 0x80-0x9F row (0x81, 0x8D, 0x8F, 0x90 and 0x9D are unassigned in 1252),
// the rest of the high half, and plain letters.
char NameByte(Dice& dice)
{
    switch (dice.Below(8)) {
    case 0: return static_cast<char>(dice.Below(0x20));
    case 1: return dice.OneIn(2) ? '"' : '\\';
    case 2: return '\x7F';
    case 3: return static_cast<char>(0x80 + dice.Below(0x20));
    case 4: return dice.Pick({'\x81', '\x8D', '\x8F', '\x90', '\x9D'});
    case 5: return static_cast<char>(0xA0 + dice.Below(0x60));
    default: return static_cast<char>('a' + dice.Below(26));
    }
}

std::string FullName(Dice& dice)
{
    // The library may fill the whole buffer, leaving no room for the zero.
    size_t length = dice.OneIn(4) ? 30 + dice.Below(3) : dice.Below(31);
    std::string name;
    bool ascii = dice.OneIn(3);
    for (size_t i = 0; i < length; ++i)
        name += ascii ? static_cast<char>(0x20 + dice.Below(0x5F)) : NameByte(dice);
    return name;
}

std::string Capitalised(Dice& dice, std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z' && dice.OneIn(3))
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string Blanks(Dice& dice)
{
    std::string blanks;
    for (uint32_t n = dice.Below(3); n > 0; --n)
        blanks += dice.Pick({' ', '\t', '\r'});
    return blanks;
}

// An address with bytes that JSON escapes, or with high bytes, now and then.
std::string Address(Dice& dice, size_t number)
{
    std::string local = "u" + std::to_string(number);
    if (dice.OneIn(8))
        local += dice.Pick({"\"q", "b\\s", "\x01", "\x1F", "\xE9", "\x7F"});
    return local + "@example.com";
}

struct Server {
    std::vector<std::string> addresses;
    std::string aliasFile;
    std::string groups;
};

std::string MacroInSomeCase(Dice& dice)
{
    return Capitalised(dice, "$localdomain$");
}

std::string AliasLine(Dice& dice, const Server& server)
{
    auto target = [&] {
        if (dice.OneIn(6))
            return std::string("nobody") + std::to_string(dice.Below(50)) + "@example.com";
        return Capitalised(dice, server.addresses[dice.Below(static_cast<uint32_t>(server.addresses.size()))]);
    };
    std::string alias = Capitalised(dice, Address(dice, 1000 + dice.Below(100)));
    switch (dice.Below(15)) {
    case 0: return "#" + alias + " = " + target();
    case 1: return Blanks(dice) + "#" + alias + "=" + target();
    case 2: return "no pair " + alias;
    case 3: return "*" + alias + " = " + target();
    case 4: return "postmaster@" + MacroInSomeCase(dice) + " = " + target();
    case 5: return alias + " = " + target() + "*" + MacroInSomeCase(dice);
    case 6: return alias + "=" + target() + std::string(480 + dice.Below(80), 'x');
    case 7: return std::string(505 + dice.Below(20), 'y') + "=" + target();
    case 8: return alias + std::string(1, '\0') + "=" + target();
    case 9: return alias + " = " + target() + std::string(1, '\0') + "tail";
    case 10: return std::string(dice.Below(2), '\0') + alias + "=" + target();
    case 11: return "";
    case 12: {
        // 510 to 512 bytes before the line end: around the limit, where a
        // CR before the LF must not count.
        std::string line = alias + "=" + target();
        return line + std::string(510 + dice.Below(3) - line.size(), 'z');
    }
    default: return Blanks(dice) + alias + Blanks(dice) + "=" + Blanks(dice) + target() + Blanks(dice);
    }
}

std::string LineEnd(Dice& dice)
{
    switch (dice.Below(6)) {
    case 0: return "\n";
    case 1: return "\r";
    case 2: return "\r\r\n";
    default: return "\r\n";
    }
}

Server MakeServer(Dice& dice, size_t accounts, size_t lines)
{
    Server server;
    for (size_t i = 0; i < accounts; ++i)
        server.addresses.push_back(Address(dice, dice.Below(static_cast<uint32_t>(accounts * 2))));
    for (size_t i = 0; i < lines; ++i) {
        std::string line = AliasLine(dice, server);
        // The same line again, as files edited by hand hold them.
        if (dice.OneIn(10))
            line += LineEnd(dice) + line;
        server.aliasFile += line + LineEnd(dice);
    }
    if (dice.OneIn(20))
        server.aliasFile.insert(dice.Below(static_cast<uint32_t>(server.aliasFile.size() + 1)), 1, '\x1A');
    if (dice.OneIn(4) && !server.aliasFile.empty())
        server.aliasFile.pop_back();
    server.groups = dice.Pick({"", "Sales", "Sales,Support"});
    return server;
}

class ListDifferential : public testing::Test {
protected:
    void Install(Dice& dice, const Server& server)
    {
        library.accounts.clear();
        library.Add({.address = kCaller, .password = kCallerPassword, .fullName = "Caller"});
        for (const std::string& address : server.addresses) {
            std::string shown = dice.OneIn(12) ? "Velmora@" + address : Capitalised(dice, address);
            std::vector<std::string> groups;
            if (!dice.OneIn(3))
                groups.push_back(dice.OneIn(2) ? "Sales" : "Support");
            library.Add({.address = shown, .fullName = FullName(dice), .groups = groups});
        }
        library.aliasPath = directory.Write("alias.txt", server.aliasFile);
        library.settingsPath =
            directory.Write("settings.ini", "[TessalineIntegration]\r\nGroupNames=" + server.groups + "\r\n");
    }

    // Compares one server; the seed names it in every failure.
    void Compare(uint32_t seed, size_t accounts, size_t lines)
    {
        Dice dice(seed);
        Server server = MakeServer(dice, accounts, lines);
        Install(dice, server);
        const char* path = library.aliasPath.c_str();

        AliasFileReport report, referenceReport;
        AliasTable table = ReadAliasTableFrom(path, &report);
        ReferenceAliasTable reference = ReferenceReadAliasTable(path, &referenceReport);
        ASSERT_EQ(table.size(), reference.size()) << "seed " << seed;
        for (size_t i = 0; i < table.size(); ++i) {
            ASSERT_EQ(table[i].target, reference[i].target) << "seed " << seed << " entry " << i;
            ASSERT_EQ(table[i].alias, reference[i].alias) << "seed " << seed << " entry " << i;
        }
        EXPECT_EQ(ParseAliasTable(server.aliasFile), table) << "seed " << seed;
        EXPECT_EQ(report.readable, referenceReport.readable) << "seed " << seed;
        EXPECT_EQ(report.comments, referenceReport.comments) << "seed " << seed;
        EXPECT_EQ(report.withoutEquals, referenceReport.withoutEquals) << "seed " << seed;
        EXPECT_EQ(report.wildcardOrMacro, referenceReport.wildcardOrMacro) << "seed " << seed;
        EXPECT_EQ(report.cutOff, referenceReport.cutOff) << "seed " << seed;

        FakeHost host;
        host.WithBasic(kCaller, kCallerPassword).WithForm("cmd=list");
        HostAnswer answer = host.Run();
        GroupNameList groups;
        ASSERT_TRUE(ReadGroupNames(groups));
        std::string expected;
        ASSERT_TRUE(ReferenceListBody(reference, groups, expected));
        ASSERT_EQ(answer.status, "200 OK") << "seed " << seed;
        ASSERT_EQ(answer.Body(), expected) << "seed " << seed;
        EXPECT_NE(answer.headers.find("Content-Length: " + std::to_string(expected.size()) + "\r\n"), std::string::npos)
            << "seed " << seed;
        writes = answer.writes.size();
    }

    size_t writes = 0; // of the last answer compared

    TempDirectory directory;
    FakeUserLibrary library;
};

TEST_F(ListDifferential, SmallServersAnswerAsTheReferenceDoes)
{
    for (uint32_t seed = 1; seed <= 400; ++seed)
        Compare(seed, 1 + seed % 40, seed % 90);
}

// Files of several read buffers, so that line ends, 0x1A and cut lines fall
// across the boundaries where the reference refilled its buffer.
TEST_F(ListDifferential, LargeServersAnswerAsTheReferenceDoes)
{
    for (uint32_t seed = 10001; seed <= 10006; ++seed)
        Compare(seed, 400, 3000);
}

// Answers larger than the first piece of the body, which go out in several
// writes under one Content-Length.
TEST_F(ListDifferential, AnswersOfSeveralPiecesAnswerAsTheReferenceDoes)
{
    for (uint32_t seed = 20001; seed <= 20003; ++seed) {
        Compare(seed, 3000, 300);
        EXPECT_GT(writes, 1u) << "seed " << seed;
    }
}

} // namespace
