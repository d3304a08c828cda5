#include "doctor/report.h"

void Report::Add(std::string name, Outcome outcome, std::string detail)
{
    steps.push_back({std::move(name), outcome, std::move(detail)});
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
    if (!report.loads)
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

void AppendJsonString(std::string& out, const std::string& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
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
    out += report.loads ? "\nThe extension would load.\n" : "\nThe extension would NOT load.\n";
    return out;
}

std::string Json(const Report& report)
{
    std::string out = "{\"loads\": ";
    out += report.loads ? "true" : "false";
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
           ", \"aliases\": " + JsonNumber(report.aliases);
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
