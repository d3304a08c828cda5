#include "doctor/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <new>
#include <system_error>

namespace {

constexpr int kTickMilliseconds = 100;

class PipeLink : public ParentLink {
public:
    PipeLink(int pipe, CallRecord& record) : pipe_(pipe), record_(record) {}

    void Send(const std::string& bytes) override
    {
        for (size_t at = 0; at < bytes.size();) {
            ssize_t written = write(pipe_, bytes.data() + at, bytes.size() - at);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                _exit(1); // the parent has gone
            at += static_cast<size_t>(written);
        }
    }

    CallRecord& Record() override { return record_; }

private:
    int pipe_;
    CallRecord& record_;
};

[[noreturn]] void Fail(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// Hands over whatever the pipe holds now; false once it is closed.
bool Drain(int pipe, int waitMilliseconds, const std::function<void(const char*, size_t)>& received)
{
    pollfd ready{pipe, POLLIN, 0};
    while (poll(&ready, 1, waitMilliseconds) > 0) {
        char bytes[4096];
        ssize_t count = read(pipe, bytes, sizeof bytes);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        received(bytes, static_cast<size_t>(count));
        waitMilliseconds = 0;
    }
    return true;
}

} // namespace

ChildEnd RunChildProcess(unsigned timeoutSeconds, const std::function<int(ParentLink&)>& body,
                         const std::function<void(const char*, size_t)>& received)
{
    void* shared = mmap(nullptr, sizeof(CallRecord), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED)
        Fail("cannot share memory with the diagnosis process");
    CallRecord* record = new (shared) CallRecord;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        Fail("cannot make a pipe to the diagnosis process");
    // What stdio holds would otherwise be written twice.
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        Fail("cannot start the diagnosis process");
    if (child == 0) {
        close(ends[0]);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // Whatever the user library prints stays out of the report.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        PipeLink link(ends[1], *record);
        int status = body(link);
        fflush(nullptr);
        _exit(status);
    }
    close(ends[1]);

    ChildEnd end;
    int status = 0;
    bool open = true, stopped = false;
    uint64_t watched = 0;
    auto since = std::chrono::steady_clock::now();
    for (;;) {
        if (open)
            open = Drain(ends[0], kTickMilliseconds, received);
        else
            poll(nullptr, 0, kTickMilliseconds);
        if (waitpid(child, &status, WNOHANG) == child)
            break;
        // A call that is still the same one after the deadline is stuck.
        uint64_t begun = record->begun.load(std::memory_order_relaxed);
        auto now = std::chrono::steady_clock::now();
        if (record->call.load(std::memory_order_acquire) == kNoCall || begun != watched) {
            watched = begun;
            since = now;
        } else if (now - since >= std::chrono::seconds(timeoutSeconds)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            stopped = true;
            break;
        }
    }
    // The child is gone: the pipe holds all it sent.
    if (open)
        Drain(ends[0], 0, received);
    close(ends[0]);

    end.call = record->call.load(std::memory_order_acquire);
    end.loaded = record->loaded.load(std::memory_order_relaxed);
    if (stopped) {
        end.how = ChildEnd::How::kStopped;
        end.code = timeoutSeconds;
    } else if (WIFSIGNALED(status)) {
        end.how = ChildEnd::How::kSignal;
        end.code = static_cast<unsigned long>(WTERMSIG(status));
    } else {
        end.code = static_cast<unsigned long>(WEXITSTATUS(status));
    }
    munmap(shared, sizeof(CallRecord));
    return end;
}

std::unique_ptr<ParentLink> LinkToParent(std::vector<std::string>&)
{
    return nullptr;
}
