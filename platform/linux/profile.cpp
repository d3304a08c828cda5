#include "platform/linux/profile.h"
#include "platform/linux/profile_text.h"

#include "platform/linux/ascii_text.h"
#include "platform/linux/last_error.h"
#include "platform/linux/regular_file.h"
#include "platform/os_calls.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kNone = std::string_view::npos;
// 0x1A, the old end-of-file mark, counts as white space too.
constexpr char kWhitespace[] = " \t\r\n\v\f\x1A";

struct Line {
    std::string text;
    std::string end; // "\r\n", "\n", "\r", or empty on a last line without one
};

// The file as lines, so that a write can give back every line it does not change.
struct ProfileFile {
    std::string byteOrderMark;
    std::vector<Line> lines;
};

// Where a key is: its section's header line, its own line, and the section's
// last line that is not blank, after which a new key goes.
struct Location {
    size_t section = kNone;
    size_t key = kNone;
    size_t lastContent = kNone;
};

std::string_view Trimmed(std::string_view text)
{
    return TrimmedOf(text, kWhitespace);
}

bool ParentDirectoryExists(const char* path)
{
    std::string parent = path;
    size_t slash = parent.rfind('/');
    parent = slash == kNone ? "." : slash == 0 ? "/" : parent.substr(0, slash);
    struct stat status;
    return gOs.stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The file's whole text. A missing file reads as an empty one and leaves
// ERROR_FILE_NOT_FOUND (ERROR_PATH_NOT_FOUND when its directory is missing
// too); a file that exists but cannot be read, or is no regular file, or is
// larger than any settings file, gives false, so that nobody takes it for an
// empty one.
bool ReadWhole(const char* path, std::string& text)
{
    text.clear();
    // Windows takes a name of no characters for its own folder, which is no
    // settings file, and refuses it as it refuses any folder.
    if (path[0] == '\0') {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (ReadRegularFile(path, kLargestSettingsFile, text)) {
        SetLastError(ERROR_SUCCESS);
        return true;
    }
    // Only opening can find no file; a read that fails leaves another error.
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND && !ParentDirectoryExists(path))
        SetLastError(error = ERROR_PATH_NOT_FOUND);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The text as lines, each with the line end it has, after the byte-order mark if any.
ProfileFile Parse(std::string_view text)
{
    ProfileFile file;
    if (text.starts_with(kByteOrderMark)) {
        file.byteOrderMark = kByteOrderMark;
        text.remove_prefix(kByteOrderMark.size());
    }
    while (!text.empty()) {
        size_t end = text.find_first_of("\r\n");
        if (end == kNone)
            end = text.size();
        size_t endLength = text.substr(end).starts_with("\r\n") ? 2 : end < text.size() ? 1 : 0;
        file.lines.push_back({std::string(text.substr(0, end)), std::string(text.substr(end, endLength))});
        text.remove_prefix(end + endLength);
    }
    return file;
}

std::string Joined(const ProfileFile& file)
{
    std::string text = file.byteOrderMark;
    for (const Line& line : file.lines)
        text.append(line.text).append(line.end);
    return text;
}

// The section name of a "[name]" line; false for any other line.
bool SectionName(std::string_view line, std::string_view& name)
{
    line = Trimmed(line);
    size_t close = line.find(']');
    if (line.empty() || line[0] != '[' || close == kNone)
        return false;
    name = line.substr(1, close - 1);
    return true;
}

// A key line is "name=value"; a line without '=' is a key without a value.
std::string_view KeyName(std::string_view line)
{
    return Trimmed(line.substr(0, line.find('=')));
}

bool KeyValue(std::string_view line, std::string_view& value)
{
    size_t equals = line.find('=');
    if (equals == kNone)
        return false;
    value = Trimmed(line.substr(equals + 1));
    return true;
}

// Only the first section of a name counts, and in it only the first key of a name.
Location Find(const ProfileFile& file, std::string_view section, std::string_view key)
{
    section = Trimmed(section);
    key = Trimmed(key);
    Location location;
    // Lines before the first header belong to a section without a name.
    bool inSection = section.empty();
    for (size_t index = 0; index < file.lines.size(); ++index) {
        std::string_view line = file.lines[index].text;
        std::string_view name;
        if (SectionName(line, name)) {
            if (inSection)
                break;
            inSection = EqualsIgnoringAsciiCase(name, section);
            if (inSection)
                location.section = location.lastContent = index;
        } else if (inSection && !Trimmed(line).empty()) {
            location.lastContent = index;
            if (location.key == kNone && EqualsIgnoringAsciiCase(KeyName(line), key))
                location.key = index;
        }
    }
    return location;
}

// Trailing spaces of the default are dropped, all but a first one.
std::string_view TrimmedDefault(const char* defaultValue)
{
    std::string_view value = defaultValue ? defaultValue : "";
    while (value.size() > 1 && value.back() == ' ')
        value.remove_suffix(1);
    return value;
}

// The value ends at its first zero byte, as a string handed out can only do.
// One pair of matching quotes around it is dropped. When the buffer has room
// for the value but not its closing quote, the last character goes instead
// of the quote, as Wine does.
DWORD CopyValue(std::string_view value, LPSTR result, DWORD size)
{
    value = value.substr(0, value.find('\0'));
    bool quoted = value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
    if (quoted)
        value.remove_prefix(1);
    size_t count = value.size() < size - 1 ? value.size() : size - 1;
    if (quoted && size >= value.size() && count > 0)
        --count;
    std::copy_n(value.data(), count, result);
    result[count] = '\0';
    return static_cast<DWORD>(count);
}

bool WriteAll(int file, const std::string& text)
{
    size_t written = 0;
    while (written < text.size()) {
        ssize_t count = gOs.write(file, text.data() + written, text.size() - written);
        if (count < 0 && errno != EINTR)
            return false;
        if (count > 0)
            written += static_cast<size_t>(count);
    }
    return true;
}

// A new file beside the old one, created exclusively under a name that no
// other writer holds.
int CreateTemporaryBeside(const std::string& path, std::string& temporary)
{
    static std::atomic<unsigned> sequence{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + ".new-" + std::to_string(gOs.getpid()) + "-" + std::to_string(sequence++);
        int file = gOs.PosixOpen(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (file >= 0 || errno != EEXIST)
            return file;
    }
    return -1;
}

// The old file's owner and permissions pass to its replacement.
bool TakeAttributes(int file, const struct stat& old)
{
    if (gOs.fchown(file, old.st_uid, old.st_gid) != 0) {
        // Only a privileged writer can give a file away; for anyone else
        // the owner is already right or cannot be kept.
    }
    return gOs.fchmod(file, old.st_mode & 07777) == 0;
}

// Writes the temporary file whole, onto the disk, and closes it; false, with
// errno telling why, when any step fails.
bool WriteTemporary(int file, const std::string& text, const struct stat* old)
{
    bool written = (!old || TakeAttributes(file, *old)) && WriteAll(file, text) && gOs.fsync(file) == 0;
    int error = errno;
    bool closed = gOs.close(file) == 0;
    if (!written)
        errno = error;
    return written && closed;
}

// The new text goes to a file beside the old one, reaches the disk, takes
// the old file's owner and permissions and then its name in one step: a
// reader sees the old text or the new, never a part, and a failure leaves
// the old file as it was.
bool Save(const char* path, const std::string& text)
{
    // A link keeps pointing at the file it named.
    char resolved[PATH_MAX];
    std::string target = gOs.realpath(path, resolved) ? resolved : path;
    struct stat old;
    bool existed = gOs.stat(target.c_str(), &old) == 0;

    std::string temporary;
    int out = CreateTemporaryBeside(target, temporary);
    if (out < 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    if (WriteTemporary(out, text, existed ? &old : nullptr) &&
        gOs.rename(temporary.c_str(), target.c_str()) == 0) {
        SetLastError(ERROR_SUCCESS);
        return true;
    }
    SetLastError(ErrorFromErrno(errno));
    gOs.unlink(temporary.c_str());
    return false;
}

// New lines end as the file's first line that ends in LF does: an added line
// ending in a lone CR before an empty line would join that line's LF into one
// CR LF, and the empty line would be gone. Only a file without any LF has its
// new lines end in CR alone; a new file gets CR LF.
std::string LineEnd(const ProfileFile& file)
{
    auto ended = [](const Line& line) { return !line.end.empty(); };
    auto endsInLf = [](const Line& line) { return line.end.ends_with('\n'); };
    auto found = std::find_if(file.lines.begin(), file.lines.end(), endsInLf);
    if (found == file.lines.end())
        found = std::find_if(file.lines.begin(), file.lines.end(), ended);
    return found == file.lines.end() ? "\r\n" : found->end;
}

void Insert(ProfileFile& file, size_t position, std::string text)
{
    std::string end = LineEnd(file);
    if (position > 0 && file.lines[position - 1].end.empty())
        file.lines[position - 1].end = end;
    file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(position), Line{std::move(text), end});
}

} // namespace

DWORD ProfileStringFromText(std::string_view text, std::string_view section, std::string_view key,
                            LPCSTR defaultValue, LPSTR result, DWORD size)
{
    if (!result || size == 0)
        return 0;
    std::string_view value = TrimmedDefault(defaultValue);
    ProfileFile file = Parse(text); // holds the text that value may point into
    Location location = Find(file, section, key);
    if (location.key != kNone)
        KeyValue(file.lines[location.key].text, value);
    return CopyValue(value, result, size);
}

std::string ProfileTextWith(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value)
{
    ProfileFile file = Parse(text);
    Location location = Find(file, section, key);
    value.remove_prefix(std::min(value.find_first_not_of(kWhitespace), value.size()));

    if (location.key != kNone) {
        Line& line = file.lines[location.key];
        std::string_view oldValue;
        if (KeyValue(line.text, oldValue) && oldValue == value)
            return std::string(text);
        line.text = std::string(KeyName(line.text)).append("=").append(value);
    } else {
        std::string keyLine = std::string(Trimmed(key)).append("=").append(value);
        if (location.section != kNone) {
            Insert(file, location.lastContent + 1, std::move(keyLine));
        } else {
            Insert(file, file.lines.size(), "[" + std::string(Trimmed(section)) + "]");
            Insert(file, file.lines.size(), std::move(keyLine));
        }
    }
    return Joined(file);
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR result, DWORD size,
                               LPCSTR fileName)
{
    if (!result || size == 0)
        return 0;
    // A file that cannot be read gives the default, as a missing one does;
    // only the last error tells them apart.
    std::string text;
    if (section && key && fileName && !ReadWhole(fileName, text))
        text.clear();
    return ProfileStringFromText(text, section ? section : "", key ? key : "", defaultValue, result, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName)
{
    if (!section || !key || !value || !fileName)
        return FALSE;
    // A file that exists but cannot be read is never replaced by a new one.
    std::string text;
    if (!ReadWhole(fileName, text))
        return FALSE;
    std::string newText = ProfileTextWith(text, section, key, value);
    // A value already in place leaves the file untouched.
    if (newText == text)
        return TRUE;
    return Save(fileName, newText) ? TRUE : FALSE;
}
