// A list request beside its floor (bench/list_floor.h), on the same generated
// server (bench/generated_server.h) through the same loaded library, the
// lock-free stand-in of flat_userlib/:
//
//   list_floor_bench [--accounts=N[,N...]] [--repetitions=R]
//       prints, per account count, the median processor time of a whole list request
//       and of a floor pass (their runs interleaved), nanoseconds per
//       account, and list / floor;
//   list_floor_bench --accounts=N --once=list|floor|auth
//       runs one of them (or one auth request of an account in the middle)
//       once, for callgrind:
//       valgrind --tool=callgrind --collect-atstart=no
//           --toggle-collect='*OneRequest*' list_floor_bench --accounts=N --once=list
//
// bench/list-vs-floor.sh runs both and prints instructions per account too.
#include "bench/bare_host.h"
#include "bench/generated_server.h"
#include "bench/list_floor.h"
#include "bench/loaded_extension.h"
#include "tests/temp_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <time.h>
#include <vector>

namespace {

struct Options {
    std::vector<size_t> accounts = {10000, 100000, 1000000};
    int repetitions = 5;
    std::string once;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--accounts=", 0) == 0) {
            options.accounts.clear();
            std::istringstream list(argument.substr(strlen("--accounts=")));
            for (std::string item; std::getline(list, item, ',');)
                options.accounts.push_back(std::stoul(item));
        } else if (argument.rfind("--repetitions=", 0) == 0) {
            options.repetitions = std::stoi(argument.substr(strlen("--repetitions=")));
        } else if (argument.rfind("--once=", 0) == 0) {
            options.once = argument.substr(strlen("--once="));
        } else {
            fprintf(stderr, "unknown argument %s\n", argv[i]);
            return false;
        }
    }
    return options.repetitions > 0 && !options.accounts.empty() &&
           (options.once.empty() || options.once == "list" || options.once == "floor" || options.once == "auth");
}

size_t ListedAccounts(size_t accounts)
{
    size_t listed = 0;
    for (size_t i = 1; i <= accounts; ++i) {
        GeneratedAccount account = MakeGeneratedAccount(i);
        listed += account.sales || account.support;
    }
    return listed;
}

size_t Occurrences(const std::string& text, const std::string& word)
{
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

// One request of either command; callgrind counts inside it.
__attribute__((noinline)) void OneRequest(BareHost& host)
{
    host.Run();
}

// One auth request of an account from the middle, with its right password.
bool RunOneAuth(size_t accounts)
{
    GeneratedAccount account = MakeGeneratedAccount(accounts / 2 + 1);
    std::string user = account.address;
    user.replace(user.find('@'), 1, "%40");
    BareHost host(kCallerAddress, kCallerPassword, "cmd=auth&user=" + user + "&pass=" + account.password);
    OneRequest(host);
    return strcmp(host.Status(), "200 OK") == 0;
}

__attribute__((noinline)) size_t OneFloorPass(const FloorInput& input)
{
    return RunListFloor(input);
}

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The processor time of this thread, its page faults in the kernel included:
// on a shared machine, time spent waiting for a core says nothing of the work.
template <class Work>
double Seconds(Work&& work)
{
    double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// False when the data set cannot be loaded or the listing is not the one expected.
bool Measure(size_t accounts, const Options& options, const TempDirectory& directory)
{
    std::optional<ServerData> data = LoadGeneratedServer(directory.File(std::to_string(accounts)), accounts);
    if (!data)
        return false;
    BareHost host(kCallerAddress, kCallerPassword, "cmd=list");
    FloorInput floor{data->aliasFile, {"Sales", "Support"}, {}};
    host.Run(&floor.body);
    if (strcmp(host.Status(), "200 OK") != 0 || Occurrences(floor.body, "\"userName\"") != ListedAccounts(accounts)) {
        fprintf(stderr, "the listing of %zu accounts is not the one generated\n", accounts);
        return false;
    }

    if (options.once == "auth")
        return RunOneAuth(accounts);
    if (options.once == "list") {
        OneRequest(host);
        return true;
    }
    if (options.once == "floor") {
        OneFloorPass(floor);
        return true;
    }

    std::vector<double> list, bare;
    size_t kept = 0;
    for (int round = 0; round < options.repetitions; ++round) {
        list.push_back(Seconds([&] { OneRequest(host); }));
        bare.push_back(Seconds([&] { kept += OneFloorPass(floor); }));
    }
    double listSeconds = Median(list), floorSeconds = Median(bare);
    printf("%9zu accounts  body %10zu B  alias file %10ju B  list %9.3f ms (%6.1f ns/account)  "
           "floor %9.3f ms (%6.1f ns/account)  list/floor %.2f%s\n",
           accounts, floor.body.size(), static_cast<uintmax_t>(std::filesystem::file_size(data->aliasFile)),
           listSeconds * 1e3, listSeconds * 1e9 / accounts, floorSeconds * 1e3, floorSeconds * 1e9 / accounts,
           listSeconds / floorSeconds, kept ? "" : " ");
    fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fprintf(stderr, "usage: list_floor_bench [--accounts=N[,N...]] [--repetitions=R] [--once=list|floor|auth]\n");
        return 2;
    }
    TempDirectory directory;
    bool ok = true;
    for (size_t accounts : options.accounts)
        ok = Measure(accounts, options, directory) && ok;
    UnloadExtension();
    return ok ? 0 : 1;
}
