// What noting each call into the user library costs the doctor: its whole
// diagnosis of a generated server (bench/generated_server.h), through the
// lock-free stand-in of flat_userlib/, without and with the call record that
// its diagnosis process keeps for the parent (doctor/library_calls.h).
//
//   doctor_calls_bench [--accounts=N] [--repetitions=R]
//
// prints the median processor time of each (their runs interleaved), the
// calls noted in one diagnosis, and the difference per call.
#include "bench/generated_server.h"
#include "doctor/diagnosis.h"
#include "doctor/library_calls.h"
#include "platform/os_calls.h"
#include "tests/temp_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <time.h>
#include <vector>

namespace {

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// False when the diagnosis does not count every generated account.
bool TimedDiagnosis(size_t accounts, std::vector<double>& seconds)
{
    double start = ThreadSeconds();
    Report report = Diagnose(DoctorOptions{}, CheckPasswords{});
    seconds.push_back(ThreadSeconds() - start);
    return report.accounts == static_cast<long>(accounts) + 1; // the caller's account too
}

} // namespace

int main(int argc, char** argv)
{
    size_t accounts = 1000000;
    int repetitions = 5;
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--accounts=", 11) == 0) {
            accounts = std::stoul(argv[i] + 11);
        } else if (strncmp(argv[i], "--repetitions=", 14) == 0) {
            repetitions = std::stoi(argv[i] + 14);
        } else {
            fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    TempDirectory directory;
    std::string folder = directory.File("server");
    std::filesystem::create_directories(folder);
    ServerData data = WriteGeneratedServer(folder, accounts, FLAT_USER_LIBRARY_DIR);
    setenv("VELMORA_REGISTRY_FILE", data.registryFile.c_str(), 1);

    const OsCalls system = gOs;
    CallRecord record;
    std::vector<double> plain, recorded;
    uint64_t calls = 0;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        gOs = system;
        bool counted = TimedDiagnosis(accounts, plain);
        RecordLibraryCalls(record);
        uint64_t before = record.begun.load();
        counted = TimedDiagnosis(accounts, recorded) && counted;
        calls = record.begun.load() - before;
        if (!counted) {
            fprintf(stderr, "the diagnosis did not count the %zu accounts generated\n", accounts);
            return 1;
        }
    }
    gOs = system;
    double without = Median(plain), with = Median(recorded);
    printf("%zu accounts: diagnosis %.1f ms without the call record, %.1f ms with it; %llu calls noted, "
           "%+.1f ns per call\n",
           accounts, without * 1e3, with * 1e3, static_cast<unsigned long long>(calls),
           (with - without) * 1e9 / static_cast<double>(calls));
    return 0;
}
