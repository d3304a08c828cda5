#include "doctor/library_calls.h"

#include "platform/os_calls.h"
#include "userlib/loading.h"

#include <cstring>

namespace {

// Entry points are numbered from 1 in the list's order; loading and
// unloading come after them.
enum CallNumber : uint32_t {
    kFirstEntryPoint = kNoCall,
#define VL_NUMBER(result, name, parameters, neededFor) kCall_##name,
    VL_ENTRY_POINTS(VL_NUMBER)
#undef VL_NUMBER
    kCallLoad,
    kCallUnload,
};

CallRecord* gRecord = nullptr;
OsCalls gSystem; // the loader's calls beneath the ones that note each call

// Notes the call for as long as it runs.
class CallInProgress {
public:
    explicit CallInProgress(uint32_t call) : previous_(gRecord->call.load(std::memory_order_relaxed))
    {
        gRecord->loaded.store(ExtensionLoaded(), std::memory_order_relaxed);
        gRecord->begun.store(gRecord->begun.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        gRecord->call.store(call, std::memory_order_release);
    }
    ~CallInProgress() { gRecord->call.store(previous_, std::memory_order_release); }
    CallInProgress(const CallInProgress&) = delete;
    CallInProgress& operator=(const CallInProgress&) = delete;

private:
    uint32_t previous_;
};

// One per entry point: the binding table holds Call, which notes the call
// and goes on to the library's own function.
template <uint32_t Number, class Slot>
struct Trampoline;

template <uint32_t Number, class Result, class... Parameters>
struct Trampoline<Number, Result (*)(Parameters...)> {
    static inline Result (*bound)(Parameters...) = nullptr;

    static Result Call(Parameters... arguments)
    {
        CallInProgress note(Number);
        return bound(arguments...);
    }
};

HMODULE WINAPI LoadNoted(LPCSTR fileName, HANDLE file, DWORD flags)
{
    CallInProgress note(kCallLoad);
    return gSystem.LoadLibraryExA(fileName, file, flags);
}

BOOL WINAPI FreeNoted(HMODULE module)
{
    CallInProgress note(kCallUnload);
    return gSystem.FreeLibrary(module);
}

FARPROC WINAPI BindNoted(HMODULE module, LPCSTR name)
{
    FARPROC found = gSystem.GetProcAddress(module, name);
    if (found == nullptr)
        return nullptr;
#define VL_TRAMPOLINE(result, entry, parameters, neededFor)                                                  \
    if (strcmp(name, #entry) == 0) {                                                                         \
        using Entry = Trampoline<kCall_##entry, decltype(BindingTable::entry)>;                              \
        Entry::bound = reinterpret_cast<decltype(BindingTable::entry)>(reinterpret_cast<void*>(found));      \
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Entry::Call));                             \
    }
    VL_ENTRY_POINTS(VL_TRAMPOLINE)
#undef VL_TRAMPOLINE
    return found;
}

} // namespace

std::string CallName(uint32_t call)
{
    switch (call) {
#define VL_NAME(result, name, parameters, neededFor) \
    case kCall_##name: return #name;
        VL_ENTRY_POINTS(VL_NAME)
#undef VL_NAME
    case kCallLoad: return "LoadLibraryExA, its own initialisation";
    case kCallUnload: return "FreeLibrary, its own clean-up";
    default: return "";
    }
}

void RecordLibraryCalls(CallRecord& record)
{
    gRecord = &record;
    gSystem = gOs;
    gOs.LoadLibraryExA = LoadNoted;
    gOs.GetProcAddress = BindNoted;
    gOs.FreeLibrary = FreeNoted;
}
