// The mail server's alias file: read whole into one buffer, its entries views
// into that buffer. Two shapes: a table sorted by target (what the doctor and
// the file's rules are checked against), and an index that finds the aliases
// of one address by a hash of it (what the list command walks its accounts
// with, built without a sort).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

struct AliasEntry {
    std::string_view target;
    std::string_view alias;
};

// What the reader made of the file, counted only when asked for. A line
// longer than the limit is cut off and its first 511 bytes are taken as the
// line; the other kinds are lines that yield no entry.
struct AliasFileReport {
    bool readable = false;
    size_t comments = 0;
    size_t withoutEquals = 0;
    size_t wildcardOrMacro = 0;
    size_t cutOff = 0;
};

// The file's bytes as text mode delivers them: up to the first 0x1A, and
// no more than the first 4 GiB less one byte, which the index can address.
// A block of spare bytes follows them, so that any text in them can be read
// a block at a time.
struct AliasText {
    std::unique_ptr<char[]> bytes;
    size_t length = 0;
};

// Sorted stably by target, in unsigned byte order: the aliases of one target
// stand in the order of their lines in the file.
class AliasTable {
public:
    AliasTable() = default;
    AliasTable(AliasText text, std::vector<AliasEntry> entries);

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const AliasEntry& operator[](size_t index) const { return entries_[index]; }
    std::vector<AliasEntry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<AliasEntry>::const_iterator end() const { return entries_.end(); }

private:
    AliasText text_;
    std::vector<AliasEntry> entries_;
};

bool operator==(const AliasTable& a, const AliasTable& b);

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
    explicit AliasIndex(AliasText text);

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

// The alias file's path as the user library gives it; one byte more than the
// library is told of, always zero, ends the path.
constexpr size_t kAliasPathSize = 512;
using AliasFilePath = char[kAliasPathSize + 1];
void ReadAliasFilePath(AliasFilePath& path);

// The file's bytes; none when it cannot be opened, and those before the
// failure when a read fails part-way.
AliasText ReadAliasText(const char* path, AliasFileReport* report = nullptr);

// Reads the alias file that the user library names. A missing or unreadable
// file gives an empty table; no line is ever an error.
AliasTable ReadAliasTable(AliasFileReport* report = nullptr);

// Reads the alias file at the given path.
AliasTable ReadAliasTableFrom(const char* path, AliasFileReport* report = nullptr);

// Reads the bytes of an alias file handed over in memory, by the same rules.
AliasTable ParseAliasTable(std::string_view bytes, AliasFileReport* report = nullptr);

// The index of the alias file that the user library names, and of one
// handed over in memory.
AliasIndex ReadAliasIndex();
AliasIndex ParseAliasIndex(std::string_view bytes);

// The run of entries whose target is exactly the address, in file order.
std::span<const AliasEntry> FindAliases(const AliasTable& table, std::string_view address);
