// How the Linux profile writer replaces the mail server's settings file: the
// exact bytes it writes, and that no failure, however late, and no reader,
// however early, ever meets a partial file.
#include "platform/os_calls.h"
#include "tests/platform/scratch_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kServerSettings = "; the mail server's own\r\n[Server]\r\nName=mail\r\nPort=25\r\n";

// Every system call is the real one again when the test ends.
class ProfileReplacement : public testing::Test {
protected:
    void TearDown() override { gOs = SystemOsCalls(); }

    // Files in the scratch file's directory that the writer left behind.
    static int LeftoversBeside(const std::string& path)
    {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path()))
            if (entry.path().string().starts_with(path + "."))
                ++count;
        return count;
    }
};

struct BytesCase {
    const char* name;
    const char* before; // nullptr: no file
    const char* section;
    const char* after;
};

void PrintTo(const BytesCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProfileBytes : public testing::TestWithParam<BytesCase> {};

// A new file gets CR LF; lines added to a file follow the line end it uses.
TEST_P(ProfileBytes, NewLinesEndAsTheFileDoes)
{
    const BytesCase& c = GetParam();
    std::string path = ScratchPath("settings.ini");
    if (c.before)
        WriteBytes(path, c.before);
    ASSERT_TRUE(WritePrivateProfileStringA(c.section, "GroupNames", "", path.c_str()));
    EXPECT_EQ(ReadBytes(path), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileBytes,
    testing::Values(
        BytesCase{"NewFile", nullptr, "TessalineIntegration", "[TessalineIntegration]\r\nGroupNames=\r\n"},
        BytesCase{"CrLfFile", "[A]\r\nK=1\r\n", "TessalineIntegration",
                  "[A]\r\nK=1\r\n[TessalineIntegration]\r\nGroupNames=\r\n"},
        BytesCase{"LfFile", "[A]\nK=1\n", "TessalineIntegration", "[A]\nK=1\n[TessalineIntegration]\nGroupNames=\n"},
        BytesCase{"LfFileExistingSection", "[A]\nK=1\n\n[B]\n", "A", "[A]\nK=1\nGroupNames=\n\n[B]\n"},
        BytesCase{"UnendedLfFile", "[A]\nK=1", "A", "[A]\nK=1\nGroupNames=\n"},
        // A lone CR before an empty line would join that line's LF; the line end
        // comes from the first line that ends in LF.
        BytesCase{"CrBeforeAnEmptyLine", "[A]\rK=1\n\n[B]\n", "A", "[A]\rK=1\nGroupNames=\n\n[B]\n"},
        BytesCase{"CrFile", "[A]\rK=1\r", "A", "[A]\rK=1\rGroupNames=\r"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProfileReplacement, KeepsTheOldFilesPermissions)
{
    std::string path = ScratchPath("settings.ini");
    WriteBytes(path, kServerSettings);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    ASSERT_TRUE(WritePrivateProfileStringA("TessalineIntegration", "GroupNames", "", path.c_str()));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(ReadBytes(path), kServerSettings + "[TessalineIntegration]\r\nGroupNames=\r\n");
}

TEST_F(ProfileReplacement, WritesThroughALinkToTheFileItNames)
{
    std::string path = ScratchPath("settings.ini"), link = ScratchPath("link.ini");
    WriteBytes(path, kServerSettings);
    fs::create_symlink(path, link);

    ASSERT_TRUE(WritePrivateProfileStringA("TessalineIntegration", "GroupNames", "", link.c_str()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(path), kServerSettings + "[TessalineIntegration]\r\nGroupNames=\r\n");
}

// A settings file that exists but cannot be read is neither taken for an
// empty one nor replaced: the read says why it gave the default.
TEST_F(ProfileReplacement, LeavesAFileThatCannotBeReadAsItWas)
{
    std::string path = ScratchPath("settings.ini");
    WriteBytes(path, kServerSettings);
    gOs.PosixOpen = [](const char* file, int flags, mode_t mode) {
        if ((flags & O_ACCMODE) == O_RDONLY) {
            errno = EACCES;
            return -1;
        }
        return SystemOsCalls().PosixOpen(file, flags, mode);
    };

    char value[8];
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetPrivateProfileStringA("Server", "Name", ",,,,,,,", value, sizeof value, path.c_str()), 7u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(WritePrivateProfileStringA("TessalineIntegration", "GroupNames", "", path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    gOs = SystemOsCalls();
    EXPECT_EQ(ReadBytes(path), kServerSettings);
    EXPECT_EQ(LeftoversBeside(path), 0);
}

// Each step of the replacement fails in turn: the old file stays byte for
// byte, the write reports failure and nothing is left beside the file.
TEST_F(ProfileReplacement, AFailedWriteLeavesTheOldFile)
{
    using Inject = void (*)();
    const std::pair<const char*, Inject> failures[] = {
        {"create", [] { gOs.PosixOpen = [](const char* file, int flags, mode_t mode) {
             if (flags & O_CREAT) {
                 errno = ENOSPC;
                 return -1;
             }
             return SystemOsCalls().PosixOpen(file, flags, mode);
         }; }},
        // The disk fills after part of the text.
        {"write", [] { gOs.write = [](int file, const void* bytes, size_t count) -> ssize_t {
             if (count > 8)
                 return ::write(file, bytes, count / 2);
             errno = ENOSPC;
             return -1;
         }; }},
        {"fsync", [] { gOs.fsync = [](int) { errno = EIO; return -1; }; }},
        {"close", [] { gOs.close = [](int file) { ::close(file); errno = EIO; return -1; }; }},
        {"rename", [] { gOs.rename = [](const char*, const char*) noexcept { errno = EACCES; return -1; }; }},
    };
    for (const auto& [step, inject] : failures) {
        SCOPED_TRACE(step);
        std::string path = ScratchPath(std::string(step) + ".ini");
        WriteBytes(path, kServerSettings);
        inject();
        EXPECT_FALSE(WritePrivateProfileStringA("TessalineIntegration", "GroupNames", "", path.c_str()));
        EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
        gOs = SystemOsCalls();
        EXPECT_EQ(ReadBytes(path), kServerSettings);
        EXPECT_EQ(LeftoversBeside(path), 0);
    }
}

// Readers running beside a writer see one whole version of the file or the
// next, never an empty or partial one.
TEST_F(ProfileReplacement, ReadersNeverSeeAPartialFile)
{
    std::string path = ScratchPath("settings.ini");
    const std::string shortValue = "Sales", longValue = std::string(3000, 'x');
    WriteBytes(path, kServerSettings + "[TessalineIntegration]\r\nGroupNames=" + shortValue + "\r\n");

    std::atomic<bool> writing{true};
    std::atomic<int> partial{0}, reads{0};
    auto reader = [&] {
        while (writing) {
            std::string text = ReadBytes(path);
            if (text != kServerSettings + "[TessalineIntegration]\r\nGroupNames=" + shortValue + "\r\n" &&
                text != kServerSettings + "[TessalineIntegration]\r\nGroupNames=" + longValue + "\r\n")
                ++partial;
            char value[4096];
            GetPrivateProfileStringA("TessalineIntegration", "GroupNames", "", value, sizeof value, path.c_str());
            if (value != shortValue && value != longValue)
                ++partial;
            ++reads;
        }
    };
    std::thread first(reader), second(reader);
    for (int round = 0; round < 300; ++round)
        ASSERT_TRUE(WritePrivateProfileStringA("TessalineIntegration", "GroupNames",
                                               (round % 2 ? shortValue : longValue).c_str(), path.c_str()));
    writing = false;
    first.join();
    second.join();
    EXPECT_EQ(partial, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
}

} // namespace
