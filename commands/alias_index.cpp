#include "commands/alias_index.h"

#include "userlib/user_library.h"

namespace {

uint64_t LoadWord(const char* bytes, size_t count)
{
    uint64_t word = 0;
    memcpy(&word, bytes, count);
    return word;
}

// Eight bytes at a time: addresses are a few words long. Each word is
// folded down before the next, so that every byte reaches the low bits that
// pick a slot.
uint32_t HashOf(std::string_view text)
{
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    uint64_t hash = text.size();
    size_t at = 0;
    for (; at + 8 < text.size(); at += 8) {
        hash = (hash ^ LoadWord(text.data() + at, 8)) * kMultiplier;
        hash ^= hash >> 32;
    }
    // The last word ends where the text ends, overlapping the one before.
    uint64_t last = text.size() >= 8 ? LoadWord(text.data() + text.size() - 8, 8)
                                     : LoadWord(text.data() + at, text.size() - at);
    hash = (hash ^ last) * kMultiplier;
    hash ^= hash >> 29;
    hash *= 0xBF58476D1CE4E5B9u;
    return static_cast<uint32_t>(hash >> 32);
}

} // namespace

AliasIndex::AliasIndex(AliasText text, AliasFileReport* report) : text_(std::move(text))
{
    TextSurvey survey = LowerCaseAndSurvey(text_);
    size_t most = MostEntries(survey);
    if (most == 0) {
        if (report)
            ParseAliasLines(text_, survey, report, [](const AliasEntry&) {});
        return;
    }
    slots_.resize(2 * most);
    // Each entry's home slot is fetched a few entries before the entry goes
    // in, so that the trips to memory overlap instead of following each other.
    constexpr size_t kAhead = 8;
    Slot pending[kAhead];
    size_t parsed = 0;
    const char* base = text_.bytes.get();
    ParseAliasLines(text_, survey, report, [&](const AliasEntry& entry) {
        Slot& slot = pending[parsed % kAhead];
        if (parsed >= kAhead)
            Insert(slot);
        slot = {static_cast<uint32_t>(entry.target.data() - base), static_cast<uint32_t>(entry.alias.data() - base),
                static_cast<uint16_t>(entry.target.size()), static_cast<uint16_t>(entry.alias.size()),
                HashOf(entry.target)};
        __builtin_prefetch(&slots_[Home(slot.hash)], 1);
        aliasBytes_ += entry.alias.size();
        ++parsed;
    });
    for (size_t i = parsed > kAhead ? parsed - kAhead : 0; i < parsed; ++i)
        Insert(pending[i % kAhead]);
    count_ = parsed;
}

// The hash scaled onto the slots, so that their number need not be a power of two.
uint32_t AliasIndex::Home(uint32_t hash) const
{
    return static_cast<uint32_t>((static_cast<uint64_t>(hash) * slots_.size()) >> 32);
}

void AliasIndex::Insert(const Slot& entry)
{
    uint32_t at = Home(entry.hash);
    while (!slots_[at].Free())
        at = Following(at);
    slots_[at] = entry;
}

AliasIndex::Lookup AliasIndex::Locate(std::string_view address) const
{
    if (slots_.empty())
        return {};
    Lookup lookup{HashOf(address), 0};
    lookup.home = Home(lookup.hash);
    __builtin_prefetch(&slots_[lookup.home]);
    return lookup;
}

void AliasIndex::FetchEntries(Lookup lookup) const
{
    if (slots_.empty())
        return;
    for (uint32_t at = lookup.home; !slots_[at].Free(); at = Following(at)) {
        if (slots_[at].hash == lookup.hash) {
            __builtin_prefetch(text_.bytes.get() + slots_[at].aliasAt);
            __builtin_prefetch(text_.bytes.get() + slots_[at].targetAt);
        }
    }
}

AliasIndex ReadAliasIndex()
{
    char path[kAliasPathSize + 1];
    ReadServerFilePath(path, kAliasFileId);
    return AliasIndex(ReadAliasText(path));
}

AliasIndex ParseAliasIndex(std::string_view bytes)
{
    return AliasIndex(CopyAliasText(bytes));
}
