#include "doctor/diagnosis_process.h"

#include "doctor/diagnosis.h"
#include "doctor/load_steps.h"
#include "doctor/password.h"

#include <cstdint>
#include <cstdio>
#include <exception>

namespace {

// The step that says how the diagnosis process ended early.
constexpr char kLibraryStep[] = "user-library";

constexpr char kNoPasswordGiven[] = "no password given; with --check-caller and --check-auth, standard input holds "
                                    "two lines, the caller's password first";

// What the child sends, each message framed as its kind, its length and
// its fields: a number as 8 bytes, a text as its length and its bytes.
enum Kind : char {
    kStepMessage = 'S',   // one step, as it is added
    kLoadingMessage = 'L', // the load steps so far, until the report's own come
    kReportMessage = 'R', // the whole report at the end, steps included:
                          // a step may be completed after it was added
    kRefusalMessage = 'E' // no report: the exit status and why, for standard error
};

class Message {
public:
    explicit Message(Kind kind) { bytes_ += static_cast<char>(kind); bytes_.append(8, '\0'); }

    Message& Number(int64_t value)
    {
        for (int shift = 0; shift < 64; shift += 8)
            bytes_ += static_cast<char>(static_cast<uint64_t>(value) >> shift & 0xFF);
        return *this;
    }

    Message& Text(const std::string& text)
    {
        Number(static_cast<int64_t>(text.size()));
        bytes_ += text;
        return *this;
    }

    Message& Of(const Step& step) { return Number(static_cast<int64_t>(step.outcome)).Text(step.name).Text(step.detail); }

    // The framed bytes, their length filled in.
    const std::string& Framed()
    {
        uint64_t length = bytes_.size() - 9;
        for (int at = 0; at < 8; ++at)
            bytes_[1 + static_cast<size_t>(at)] = static_cast<char>(length >> (8 * at) & 0xFF);
        return bytes_;
    }

private:
    std::string bytes_;
};

// Reads the fields of one message in the order they were written.
class Fields {
public:
    explicit Fields(const std::string& bytes) : bytes_(bytes) {}

    int64_t Number()
    {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 8)
            value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes_.at(at_++))) << shift;
        return static_cast<int64_t>(value);
    }

    std::string Text()
    {
        size_t length = static_cast<size_t>(Number());
        std::string text = bytes_.substr(at_, length);
        at_ += length;
        return text;
    }

    Step TakeStep()
    {
        auto outcome = static_cast<Outcome>(Number());
        std::string name = Text();
        return {name, outcome, Text()};
    }

private:
    const std::string& bytes_;
    size_t at_ = 0;
};

std::string ReportMessage(const Report& report, bool passwordsGiven)
{
    Message message(kReportMessage);
    message.Number(report.loads).Number(report.accounts).Number(report.listed).Number(report.aliases);
    message.Number(report.nonAsciiAccounts).Number(report.nonAsciiAliases).Text(report.caller).Text(report.auth);
    message.Number(passwordsGiven).Number(static_cast<int64_t>(report.steps.size()));
    for (const Step& step : report.steps)
        message.Of(step);
    return message.Framed();
}

std::string RefusalMessage(int status, const std::string& why)
{
    return Message(kRefusalMessage).Number(status).Text(why).Framed();
}

// The parent's side: what has arrived so far.
struct Inbox {
    std::string pending;
    Report report; // the steps streamed, or the whole report once it came
    std::vector<Step> loading; // the load steps so far, before any was streamed
    bool finished = false;
    bool passwordsGiven = true;
    int refusalStatus = 0; // 0: no refusal
    std::string refusal;

    void Take(const char* bytes, size_t count)
    {
        pending.append(bytes, count);
        while (pending.size() >= 9) {
            char kind = pending[0];
            std::string lengthBytes = pending.substr(1, 8);
            auto length = static_cast<uint64_t>(Fields(lengthBytes).Number());
            if (pending.size() - 9 < length)
                return;
            std::string body = pending.substr(9, length);
            pending.erase(0, 9 + length);
            Open(kind, body);
        }
    }

    void Open(char kind, const std::string& body)
    {
        Fields fields(body);
        if (kind == kStepMessage) {
            report.steps.push_back(fields.TakeStep());
        } else if (kind == kLoadingMessage) {
            loading.clear();
            for (int64_t steps = fields.Number(); steps > 0; --steps)
                loading.push_back(fields.TakeStep());
        } else if (kind == kReportMessage) {
            report = Report{};
            report.loads = fields.Number() != 0;
            report.accounts = fields.Number();
            report.listed = fields.Number();
            report.aliases = fields.Number();
            report.nonAsciiAccounts = fields.Number();
            report.nonAsciiAliases = fields.Number();
            report.caller = fields.Text();
            report.auth = fields.Text();
            passwordsGiven = fields.Number() != 0;
            for (int64_t steps = fields.Number(); steps > 0; --steps)
                report.steps.push_back(fields.TakeStep());
            finished = true;
        } else if (kind == kRefusalMessage) {
            refusalStatus = static_cast<int>(fields.Number());
            refusal = fields.Text();
        }
    }
};

std::string Hex(unsigned long code)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

// The last step of a report that the diagnosis process could not finish.
std::string HowItEnded(const ChildEnd& end)
{
    std::string call = CallName(end.call);
    std::string how = end.how == ChildEnd::How::kSignal      ? "signal " + std::to_string(end.code)
                      : end.how == ChildEnd::How::kException ? "exception " + Hex(end.code)
                                                             : "exit status " + std::to_string(end.code);
    if (end.how == ChildEnd::How::kStopped)
        return "the user library did not return from " + call + " within " + std::to_string(end.code) +
               " s (--library-timeout), and the doctor ended its process: the extension waits for this call without a "
               "deadline";
    bool crashed = end.how != ChildEnd::How::kExited;
    if (call.empty())
        return std::string("the doctor's diagnosis process ") + (crashed ? "crashed" : "ended early") + " (" + how +
               ") outside any call into the user library";
    return std::string("the user library ") + (crashed ? "crashed in " : "ended the process in ") + call + " (" +
           how + "): IIS's worker process would end the same way";
}

} // namespace

int ServeDiagnosis(const DoctorOptions& options, ParentLink& parent)
{
    // The caller's password first, then the one for --check-auth. A missing
    // one is a usage error, but the report of everything else still helps.
    Password callerPassword, authPassword;
    TwoPasswords read = ReadTwoPasswords(options.checkCaller, callerPassword, options.checkAuth, authPassword);
    if (!read.tooLong.empty()) {
        parent.Send(RefusalMessage(2, read.tooLong));
        return 0;
    }
    CheckPasswords passwords{read.firstGiven ? &callerPassword.text() : nullptr,
                             read.secondGiven ? &authPassword.text() : nullptr};

    RecordLibraryCalls(parent.Record());
    ListenToSteps([&](const Step& step) { parent.Send(Message(kStepMessage).Of(step).Framed()); });
    ListenToLoadProgress([&](const LoadFindings& load) {
        Message message(kLoadingMessage);
        std::vector<Step> steps = LoadSteps(load, nullptr);
        message.Number(static_cast<int64_t>(steps.size()));
        for (const Step& step : steps)
            message.Of(step);
        parent.Send(message.Framed());
    });
    try {
        parent.Send(ReportMessage(Diagnose(options, passwords), read.firstGiven && read.secondGiven));
    } catch (const std::exception& failure) {
        parent.Send(RefusalMessage(1, failure.what()));
    }
    return 0;
}

int DiagnoseApart(const DoctorOptions& options)
{
    Inbox inbox;
    ChildEnd end;
    try {
        end = RunChildProcess(
            options.libraryTimeout, [&](ParentLink& parent) { return ServeDiagnosis(options, parent); },
            [&](const char* bytes, size_t count) { inbox.Take(bytes, count); });
    } catch (const std::exception& failure) {
        fprintf(stderr, "tessaline-doctor: %s\n", failure.what());
        return 1;
    }
    if (inbox.refusalStatus != 0) {
        fprintf(stderr, "tessaline-doctor: %s\n", inbox.refusal.c_str());
        return inbox.refusalStatus;
    }
    Report& report = inbox.report;
    if (!inbox.finished) {
        // Until the report's own steps came, loading's are all there is.
        if (report.steps.empty())
            report.steps = inbox.loading;
        report.loads = end.loaded;
        report.Add(kLibraryStep, Outcome::kFailed, HowItEnded(end));
    }
    fputs((options.json ? Json(report) : PlainText(report)).c_str(), stdout);
    if (!inbox.passwordsGiven) {
        fprintf(stderr, "tessaline-doctor: %s\n", kNoPasswordGiven);
        return 2;
    }
    return ExitStatus(report);
}
