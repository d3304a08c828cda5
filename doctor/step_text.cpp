#include "doctor/step_text.h"

Step Ok(std::string name, std::string detail)
{
    return {std::move(name), Outcome::kOk, std::move(detail)};
}

Step Warn(std::string name, std::string detail)
{
    return {std::move(name), Outcome::kWarning, std::move(detail)};
}

Step Fail(std::string name, std::string detail)
{
    return {std::move(name), Outcome::kFailed, std::move(detail)};
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

bool IsFileOrMissing(const FileFound& found)
{
    return found.kind == FileKind::kFile || found.kind == FileKind::kMissing;
}

std::string WhatItIs(const std::string& path, const FileFound& found)
{
    switch (found.kind) {
    case FileKind::kFolder: return path + " is a folder, not a file";
    case FileKind::kDevice: return path + " is a device, not a file";
    case FileKind::kPipe: return path + " is a pipe (FIFO), not a file";
    case FileKind::kSocket: return path + " is a socket, not a file";
    case FileKind::kOther: return path + " is not a regular file";
    case FileKind::kUnknown: return path + " cannot be examined: " + found.reason;
    case FileKind::kTooLarge:
        return path + " is over the " + std::to_string(SettingsFileLimit() >> 20) + " MiB limit the extension reads";
    case FileKind::kFile:
    case FileKind::kMissing: break;
    }
    return path;
}

std::string WhatFollows(const std::string& path, const FileFound& found, const std::string& consequence)
{
    std::string text = WhatItIs(path, found) + "; the doctor does not read it\n";
    if (found.kind == FileKind::kUnknown || RefusesToRead(found.kind))
        return text + "the extension cannot read it: " + consequence;
    return text + "the extension would read it as a file and take whatever it gives, if it answers at all";
}
