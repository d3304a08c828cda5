#include "doctor/report.h"

#include "platform/os_calls.h"

#include <algorithm>

namespace {

std::function<void(const Step&)> gStepListener;

} // namespace

void Report::Add(std::string name, Outcome outcome, std::string detail)
{
    Add(Step{std::move(name), outcome, std::move(detail)});
}

void ListenToSteps(std::function<void(const Step&)> listener)
{
    gStepListener = std::move(listener);
}

void Report::Add(Step step)
{
    steps.push_back(std::move(step));
    if (gStepListener)
        gStepListener(steps.back());
}

const Step* Report::Find(const std::string& name) const
{
    for (const Step& step : steps)
        if (step.name == name)
            return &step;
    return nullptr;
}

int ExitStatus(const Report& report)
{
    if (!report.loads && report.url.empty())
        return 1;
    for (const Step& step : report.steps)
        if (step.outcome == Outcome::kFailed)
            return 1;
    return 0;
}

namespace {

const char* Mark(Outcome outcome)
{
    switch (outcome) {
    case Outcome::kOk: return "ok  ";
    case Outcome::kWarning: return "WARN";
    case Outcome::kFailed: return "FAIL";
    }
    return "";
}

// Continuation lines of a detail stand under its first line.
std::string Indented(const std::string& detail, size_t width)
{
    std::string out;
    for (char c : detail) {
        out += c;
        if (c == '\n')
            out.append(width, ' ');
    }
    return out;
}

void AppendHex(std::string& out, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// A text in the server's code page as UTF-8, through the platform's
// conversion, one character at a time. A byte that begins no character of
// the code page is written as \xhh: the JSON stays valid UTF-8, and the
// byte can still be told.
std::string Utf8FromCodePage(const std::string& text)
{
    auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
    if (std::all_of(text.begin(), text.end(), ascii))
        return text;
    std::string out;
    for (size_t at = 0; at < text.size();) {
        if (ascii(text[at])) {
            out += text[at++];
            continue;
        }
        // Code pages of two-byte characters, and UTF-8 as a code page, take
        // up to four bytes for one.
        size_t taken = 0;
        for (size_t length = 1; length <= 4 && at + length <= text.size() && taken == 0; ++length) {
            WCHAR wide[2];
            int units = gOs.MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data() + at,
                                                static_cast<int>(length), wide, 2);
            char utf8[8];
            int bytes = units > 0 ? gOs.WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr,
                                                             nullptr)
                                  : 0;
            if (bytes > 0) {
                out.append(utf8, static_cast<size_t>(bytes));
                taken = length;
            }
        }
        if (taken == 0) {
            out += "\\x";
            AppendHex(out, static_cast<unsigned char>(text[at]));
            taken = 1;
        }
        at += taken;
    }
    return out;
}

void AppendJsonString(std::string& out, const std::string& text)
{
    out += '"';
    for (char c : Utf8FromCodePage(text)) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20) {
            out += "\\u00";
            AppendHex(out, byte);
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string JsonNumber(long value)
{
    return value < 0 ? "null" : std::to_string(value);
}

} // namespace

std::string PlainText(const Report& report)
{
    std::string out;
    for (const Step& step : report.steps) {
        std::string head = std::string(Mark(step.outcome)) + "  " + step.name + ": ";
        out += head + Indented(step.detail, 6) + '\n';
    }
    if (!report.url.empty() && ExitStatus(report) != 0)
        out += "\nThe endpoint does NOT answer as the extension does.\n";
    else if (!report.url.empty() && !report.probedFrom.empty())
        out += "\nThe endpoint answers as the extension does to a request from the server itself; only a probe "
               "from another machine shows what a remote caller gets.\n";
    else if (!report.url.empty())
        out += "\nThe endpoint answers as the extension does.\n";
    else if (!report.loads)
        out += "\nThe extension would NOT load.\n";
    else if (ExitStatus(report) != 0)
        out += "\nThe extension would load, but the steps marked FAIL would not work.\n";
    else
        out += "\nThe extension would load.\n";
    return out;
}

std::string Json(const Report& report)
{
    std::string out;
    if (!report.url.empty()) {
        out += "{\"url\": ";
        AppendJsonString(out, report.url);
        out += ExitStatus(report) == 0 ? ", \"answers\": true" : ", \"answers\": false";
        out += report.probedFrom.empty() ? ", \"fromServer\": false" : ", \"fromServer\": true";
    } else {
        out += report.loads ? "{\"loads\": true" : "{\"loads\": false";
    }
    out += ", \"steps\": [";
    for (size_t i = 0; i < report.steps.size(); ++i) {
        const Step& step = report.steps[i];
        out += i ? ",\n  {\"step\": " : "\n  {\"step\": ";
        AppendJsonString(out, step.name);
        out += step.outcome == Outcome::kOk ? ", \"ok\": true" : ", \"ok\": false";
        if (step.outcome == Outcome::kWarning)
            out += ", \"warning\": true";
        out += ", \"detail\": ";
        AppendJsonString(out, step.detail);
        out += '}';
    }
    out += "\n], \"accounts\": " + JsonNumber(report.accounts) + ", \"listed\": " + JsonNumber(report.listed) +
           ", \"aliases\": " + JsonNumber(report.aliases) +
           ", \"nonAsciiAccounts\": " + JsonNumber(report.nonAsciiAccounts) +
           ", \"nonAsciiAliases\": " + JsonNumber(report.nonAsciiAliases);
    if (!report.caller.empty()) {
        out += ", \"caller\": ";
        AppendJsonString(out, report.caller);
    }
    if (!report.auth.empty()) {
        out += ", \"auth\": ";
        AppendJsonString(out, report.auth);
    }
    out += "}\n";
    return out;
}
