// The index that the list command finds each account's aliases with.
#pragma once

#include "commands/alias_file.h"

#include <cstdint>
#include <string_view>
#include <vector>

// The aliases of each target in file order, found through a hash of the
// target: built in one pass, so that looking up every account of a listing
// costs time in proportion to the accounts and the aliases.
//
// The entries are themselves the slots of an open-addressing table, with
// twice as many slots as the file has room for entries. An entry goes into the first free slot from its
// target's home on, so walking from the home to the next free slot meets a
// target's entries in file order; entries of other targets met on the way
// are told apart by their hash, then by their text.
class AliasIndex {
public:
    AliasIndex() = default;
    // Counts every line of the text in the report, when there is one.
    explicit AliasIndex(AliasText text, AliasFileReport* report = nullptr);

    // How many aliases, and their bytes in total: for sizing an answer that
    // lists them.
    size_t Count() const { return count_; }
    size_t AliasBytes() const { return aliasBytes_; }

    // Where an address's aliases would start. Asking early, then fetching the
    // entries' text, lets both reach the cache while the caller does other
    // work: on a large table each is a trip to memory.
    struct Lookup {
        uint32_t hash = 0;
        uint32_t home = 0;
    };
    Lookup Locate(std::string_view address) const;
    void FetchEntries(Lookup lookup) const;

    // Calls visit(alias) for each alias whose target is exactly the address.
    template <class Visit>
    void ForEachAlias(std::string_view address, Lookup lookup, Visit&& visit) const
    {
        if (slots_.empty())
            return;
        for (uint32_t at = lookup.home; !slots_[at].Free(); at = Following(at)) {
            const Slot& slot = slots_[at];
            if (slot.hash == lookup.hash && Text(slot.targetAt, slot.targetLength) == address)
                visit(Text(slot.aliasAt, slot.aliasLength));
        }
    }
    template <class Visit>
    void ForEachAlias(std::string_view address, Visit&& visit) const
    {
        ForEachAlias(address, Locate(address), visit);
    }

private:
    // Positions in the text; the reader keeps the text below 4 GiB.
    struct Slot {
        static constexpr uint32_t kFree = UINT32_MAX;
        uint32_t targetAt = kFree;
        uint32_t aliasAt = kFree;
        uint16_t targetLength = 0;
        uint16_t aliasLength = 0;
        uint32_t hash = 0;
        bool Free() const { return targetAt == kFree; }
    };

    std::string_view Text(uint32_t at, uint16_t length) const { return {text_.bytes.get() + at, length}; }
    uint32_t Following(uint32_t at) const { return at + 1 == slots_.size() ? 0 : at + 1; }
    uint32_t Home(uint32_t hash) const;
    void Insert(const Slot& entry);

    AliasText text_;
    std::vector<Slot> slots_;
    size_t count_ = 0;
    size_t aliasBytes_ = 0;
};

// The index of the alias file that the user library names, and of one
// handed over in memory.
AliasIndex ReadAliasIndex();
AliasIndex ParseAliasIndex(std::string_view bytes);
