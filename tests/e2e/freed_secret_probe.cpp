// Preloaded into the host (LD_PRELOAD) by test_secrets.py: every block that
// goes back to the heap is searched for the texts listed, one per line, in
// the file that FREED_SECRET_PROBE_SECRETS names; each block that still holds
// one adds a line to the file that FREED_SECRET_PROBE_REPORT names. The
// secrets are read on the first free, with the heap's own functions, before
// any block is searched.
#include <fcntl.h>
#include <malloc.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {

constexpr int kMostSecrets = 8;
constexpr size_t kSecretsSize = 4096;

char gSecretText[kSecretsSize];
const char* gSecrets[kMostSecrets];
size_t gSecretLengths[kMostSecrets];
int gSecretCount = 0;
int gReport = -1;
std::atomic<int> gState{0}; // 0 not read, 1 being read, 2 ready

void ReadSecrets()
{
    const char* secretsPath = getenv("FREED_SECRET_PROBE_SECRETS");
    const char* reportPath = getenv("FREED_SECRET_PROBE_REPORT");
    if (!secretsPath || !reportPath)
        return;
    int file = open(secretsPath, O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return;
    ssize_t length = read(file, gSecretText, sizeof gSecretText - 1);
    close(file);
    if (length <= 0)
        return;
    for (char* line = gSecretText; line < gSecretText + length && gSecretCount < kMostSecrets;) {
        char* end = static_cast<char*>(memchr(line, '\n', static_cast<size_t>(gSecretText + length - line)));
        if (!end)
            end = gSecretText + length;
        *end = '\0';
        if (end > line) {
            gSecrets[gSecretCount] = line;
            gSecretLengths[gSecretCount++] = static_cast<size_t>(end - line);
        }
        line = end + 1;
    }
    gReport = open(reportPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

bool Ready()
{
    int expected = 0;
    if (gState.compare_exchange_strong(expected, 1)) {
        ReadSecrets();
        gState = 2;
    }
    return gState == 2;
}

// Which secret the block holds, or -1.
int SecretIn(void* block)
{
    if (!block || !Ready() || gReport < 0)
        return -1;
    size_t size = malloc_usable_size(block);
    for (int i = 0; i < gSecretCount; ++i)
        if (memmem(block, size, gSecrets[i], gSecretLengths[i]))
            return i;
    return -1;
}

void Report(int secret, size_t size)
{
    char line[128];
    int length = snprintf(line, sizeof line, "secret %d in a freed block of %zu bytes\n", secret, size);
    if (length > 0)
        (void)!write(gReport, line, static_cast<size_t>(length));
}

} // namespace

extern "C" void free(void* block)
{
    int secret = SecretIn(block);
    if (secret >= 0)
        Report(secret, malloc_usable_size(block));
    __libc_free(block);
}

// A block that moves, or shrinks to nothing, is freed by the heap itself,
// out of reach of free(): it is searched before, and reported once freed.
extern "C" void* realloc(void* block, size_t size)
{
    int secret = SecretIn(block);
    size_t oldSize = block ? malloc_usable_size(block) : 0;
    void* moved = __libc_realloc(block, size);
    bool freed = moved ? moved != block : size == 0;
    if (secret >= 0 && freed)
        Report(secret, oldSize);
    return moved;
}
