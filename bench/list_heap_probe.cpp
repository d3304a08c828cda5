// How much heap one list request takes, counted by an allocator interposed
// over the whole process (the extension, the C++ runtime, the user library):
//
//   list_heap_probe [--accounts=N[,N...]]
//
// prints, per account count of the generated server, the allocations of one
// list request (malloc, calloc, realloc, aligned allocations and mmap, each
// one), its peak extra heap (blocks alive that the request allocated, a
// reallocation counted as old plus new while both are alive, mapped memory
// included), and that peak over body + alias file. The host (bare_host.h)
// keeps no copy of the answer.
#include "bench/bare_host.h"
#include "bench/generated_server.h"
#include "bench/loaded_extension.h"
#include "tests/temp_directory.h"

#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

// The blocks allocated while counting, so that freeing a block from before
// the request changes nothing. Open addressing; the probe is single-threaded.
constexpr size_t kSlots = size_t{1} << 24;
void* gBlocks[kSlots];
void* const kRemoved = reinterpret_cast<void*>(1);

bool gCounting = false;
size_t gAllocations = 0;
size_t gLive = 0;
size_t gPeak = 0;

size_t SlotOf(void* block)
{
    return (reinterpret_cast<uintptr_t>(block) >> 4) * 0x9E3779B97F4A7C15u >> 40 & (kSlots - 1);
}

void Track(void* block, size_t size)
{
    if (!block)
        return;
    ++gAllocations;
    gLive += size;
    gPeak = std::max(gPeak, gLive);
    size_t slot = SlotOf(block);
    while (gBlocks[slot] && gBlocks[slot] != kRemoved)
        slot = (slot + 1) & (kSlots - 1);
    gBlocks[slot] = block;
}

// True when the block was allocated while counting; it is then forgotten.
bool Untrack(void* block)
{
    if (!block)
        return false;
    for (size_t slot = SlotOf(block); gBlocks[slot]; slot = (slot + 1) & (kSlots - 1)) {
        if (gBlocks[slot] == block) {
            gBlocks[slot] = kRemoved;
            return true;
        }
    }
    return false;
}

void Forget(void* block, size_t size)
{
    if (Untrack(block))
        gLive -= size;
}

using MmapCall = void* (*)(void*, size_t, int, int, int, off_t);
using MunmapCall = int (*)(void*, size_t);

} // namespace

extern "C" {

void* malloc(size_t size)
{
    void* block = __libc_malloc(size);
    if (gCounting)
        Track(block, malloc_usable_size(block));
    return block;
}

void* calloc(size_t count, size_t size)
{
    void* block = __libc_calloc(count, size);
    if (gCounting)
        Track(block, malloc_usable_size(block));
    return block;
}

void* realloc(void* old, size_t size)
{
    if (!gCounting)
        return __libc_realloc(old, size);
    size_t oldSize = old ? malloc_usable_size(old) : 0;
    bool oldCounted = Untrack(old);
    void* block = __libc_realloc(old, size);
    if (!block) {
        if (oldCounted)
            Track(old, 0), --gAllocations;
        return nullptr;
    }
    Track(block, malloc_usable_size(block));
    if (oldCounted)
        gLive -= oldSize;
    return block;
}

void free(void* block)
{
    if (gCounting)
        Forget(block, block ? malloc_usable_size(block) : 0);
    __libc_free(block);
}

void* memalign(size_t alignment, size_t size)
{
    void* block = __libc_memalign(alignment, size);
    if (gCounting)
        Track(block, malloc_usable_size(block));
    return block;
}

void* aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size)
{
    *result = memalign(alignment, size);
    return *result ? 0 : ENOMEM;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset)
{
    static auto next = reinterpret_cast<MmapCall>(dlsym(RTLD_NEXT, "mmap"));
    void* block = next(address, length, protection, flags, fd, offset);
    if (gCounting && block != MAP_FAILED)
        Track(block, length);
    return block;
}

int munmap(void* address, size_t length)
{
    static auto next = reinterpret_cast<MunmapCall>(dlsym(RTLD_NEXT, "munmap"));
    if (gCounting)
        Forget(address, length);
    return next(address, length);
}

} // extern "C"

namespace {

bool Probe(size_t accounts, const TempDirectory& directory)
{
    std::optional<ServerData> data = LoadGeneratedServer(directory.File(std::to_string(accounts)), accounts);
    if (!data)
        return false;
    BareHost host(kCallerAddress, kCallerPassword, "cmd=list");
    host.Run(); // the first request may fill caches of the runtime; it is not counted

    gAllocations = gLive = gPeak = 0;
    gCounting = true;
    host.Run();
    gCounting = false;
    if (strcmp(host.Status(), "200 OK") != 0) {
        fprintf(stderr, "the list of %zu accounts answered %s\n", accounts, host.Status());
        return false;
    }
    size_t aliasFile = std::filesystem::file_size(data->aliasFile);
    printf("%9zu accounts  body %10zu B  alias file %10zu B  allocations %8zu  peak extra heap %11zu B  "
           "peak / (body + alias file) %.2f\n",
           accounts, host.BodyLength(), aliasFile, gAllocations, gPeak,
           static_cast<double>(gPeak) / static_cast<double>(host.BodyLength() + aliasFile));
    fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<size_t> counts = {10000, 100000, 1000000};
    if (argc == 2 && strncmp(argv[1], "--accounts=", 11) == 0) {
        counts.clear();
        std::istringstream list(argv[1] + 11);
        for (std::string item; std::getline(list, item, ',');)
            counts.push_back(std::stoul(item));
    } else if (argc != 1) {
        fprintf(stderr, "usage: list_heap_probe [--accounts=N[,N...]]\n");
        return 2;
    }
    TempDirectory directory;
    bool ok = true;
    for (size_t accounts : counts)
        ok = Probe(accounts, directory) && ok;
    UnloadExtension();
    return ok ? 0 : 1;
}
