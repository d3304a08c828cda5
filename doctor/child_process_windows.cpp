#include "doctor/child_process.h"

#include <windows.h>

#include <cstdint>
#include <new>
#include <stdexcept>

namespace {

// Starts a child: "--diagnosis-process PIPE RECORD", the inherited handles'
// values, ahead of the doctor's own arguments.
constexpr char kChildArgument[] = "--diagnosis-process";
constexpr DWORD kTickMilliseconds = 100;

[[noreturn]] void Fail(const char* what)
{
    throw std::runtime_error(std::string(what) + " (error " + std::to_string(GetLastError()) + ")");
}

class PipeLink : public ParentLink {
public:
    PipeLink(HANDLE pipe, CallRecord& record) : pipe_(pipe), record_(record) {}

    void Send(const std::string& bytes) override
    {
        for (size_t at = 0; at < bytes.size();) {
            DWORD written = 0;
            if (!WriteFile(pipe_, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written, nullptr))
                ExitProcess(1); // the parent has gone
            at += written;
        }
    }

    CallRecord& Record() override { return record_; }

private:
    HANDLE pipe_;
    CallRecord& record_;
};

// A crash ends the child at once, with the exception's code as its exit
// code, rather than after an error report, a dialog or a debugger.
LONG WINAPI EndOnException(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Hands over whatever the pipe holds now.
void Drain(HANDLE pipe, const std::function<void(const char*, size_t)>& received)
{
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char bytes[4096];
        DWORD count = 0;
        if (!ReadFile(pipe, bytes, available < sizeof bytes ? available : sizeof bytes, &count, nullptr) || count == 0)
            return;
        received(bytes, count);
    }
}

HANDLE Inheritable(HANDLE handle)
{
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

// This program's own command line with the child's argument after the
// program's name, which ends at its closing quote or at the first blank.
std::wstring ChildCommandLine(HANDLE pipe, HANDLE record)
{
    std::wstring line = GetCommandLineW();
    size_t end = line.empty() || line[0] != L'"' ? line.find_first_of(L" \t") : line.find(L'"', 1);
    if (end != std::wstring::npos && line[end] == L'"')
        ++end;
    std::wstring program = line.substr(0, end), rest = end == std::wstring::npos ? L"" : line.substr(end);
    auto number = [](HANDLE handle) { return std::to_wstring(reinterpret_cast<uintptr_t>(handle)); };
    return program + L" " + std::wstring(kChildArgument, kChildArgument + sizeof kChildArgument - 1) + L" " +
           number(pipe) + L" " + number(record) + rest;
}

} // namespace

ChildEnd RunChildProcess(unsigned timeoutSeconds, const std::function<int(ParentLink&)>&,
                         const std::function<void(const char*, size_t)>& received)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE, 0, sizeof(CallRecord),
                                        nullptr);
    void* shared = mapping ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(CallRecord)) : nullptr;
    if (!shared)
        Fail("cannot share memory with the diagnosis process");
    CallRecord* record = new (shared) CallRecord;
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0) || !SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0))
        Fail("cannot make a pipe to the diagnosis process");

    // Whatever the user library prints goes to standard error, out of the report.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(GetStdHandle(STD_INPUT_HANDLE));
    startup.hStdOutput = Inheritable(GetStdHandle(STD_ERROR_HANDLE));
    startup.hStdError = startup.hStdOutput;
    wchar_t program[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, program, MAX_PATH * 4);
    std::wstring commandLine = ChildCommandLine(writeEnd, mapping);
    PROCESS_INFORMATION child{};
    BOOL started = CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &child);
    for (HANDLE handle : {writeEnd, startup.hStdInput, startup.hStdOutput})
        if (handle)
            CloseHandle(handle);
    if (!started)
        Fail("cannot start the diagnosis process");
    CloseHandle(child.hThread);
    // The child dies with the doctor, whatever ends the doctor.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        AssignProcessToJobObject(job, child.hProcess);

    ChildEnd end;
    bool stopped = false;
    uint64_t watched = 0;
    ULONGLONG since = GetTickCount64();
    while (WaitForSingleObject(child.hProcess, kTickMilliseconds) == WAIT_TIMEOUT) {
        Drain(readEnd, received);
        // A call that is still the same one after the deadline is stuck.
        uint64_t begun = record->begun.load(std::memory_order_relaxed);
        ULONGLONG now = GetTickCount64();
        if (record->call.load(std::memory_order_acquire) == kNoCall || begun != watched) {
            watched = begun;
            since = now;
        } else if (now - since >= 1000ULL * timeoutSeconds) {
            TerminateProcess(child.hProcess, 1);
            WaitForSingleObject(child.hProcess, INFINITE);
            stopped = true;
            break;
        }
    }
    // The child is gone: the pipe holds all it sent.
    Drain(readEnd, received);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    end.call = record->call.load(std::memory_order_acquire);
    end.loaded = record->loaded.load(std::memory_order_relaxed);
    if (stopped) {
        end.how = ChildEnd::How::kStopped;
        end.code = timeoutSeconds;
    } else {
        // NTSTATUS error codes: the process ended on an exception.
        end.how = code >= 0xC0000000 ? ChildEnd::How::kException : ChildEnd::How::kExited;
        end.code = code;
    }
    CloseHandle(child.hProcess);
    if (job)
        CloseHandle(job);
    CloseHandle(readEnd);
    UnmapViewOfFile(shared);
    CloseHandle(mapping);
    return end;
}

std::unique_ptr<ParentLink> LinkToParent(std::vector<std::string>& arguments)
{
    if (arguments.size() < 3 || arguments[0] != kChildArgument)
        return nullptr;
    auto handle = [](const std::string& number) {
        return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::stoull(number)));
    };
    HANDLE pipe = handle(arguments[1]);
    void* shared = MapViewOfFile(handle(arguments[2]), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(CallRecord));
    if (!shared)
        return nullptr;
    arguments.erase(arguments.begin(), arguments.begin() + 3);
    SetUnhandledExceptionFilter(EndOnException);
    return std::make_unique<PipeLink>(pipe, *static_cast<CallRecord*>(shared));
}
