#pragma once
// The keys peers used in this run, by machine name and by address: whether the peer of an
// encrypted transfer holds the key it held last time, and which names and addresses have
// completed an encrypted transfer (they are never sent to in plain again). Kept in memory only:
// every start of an instance makes a new key, so nothing here would mean anything next run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zumelko {

// How the peer's key of a transfer compares with the key last used under its name or address.
enum class KeyState : std::uint8_t {
    Unknown,  // the session showed no key (no certificate was exchanged)
    First,    // neither the name nor the address has been used with a key in this run
    Same,     // the key last used under the name or the address, and neither used another
    Changed,  // the name or the address last used another key: a restart, or a machine between
};

class PeerKeys {
public:
    // Names and addresses remembered; beyond this one is forgotten: the least recently used
    // name that only a header claimed, else the least recently used of all. A sender can claim
    // any number of names, so claims must not push out what the user named or connected to.
    static constexpr std::size_t kMaxEntries = 1024;

    // An encrypted transfer completed with the peer known by these names and addresses (empty
    // ones are skipped): those the program chose or saw itself, and those only a header
    // claimed. fingerprint is the peer's key (empty when unknown). Returns how the key compares
    // with the one each of them last used, then remembers it as their last one.
    KeyState Note(const std::vector<std::string>& seen, const std::vector<std::string>& claimed,
                  const std::string& fingerprint);
    // Whether any of them completed an encrypted transfer in this run.
    bool Secured(const std::vector<std::string>& who) const;

    // The forms the table is keyed by: a machine name as a user or a header gives it (ASCII
    // letters in either case are one name, as name lookups take them), an address (network
    // order) apart from names.
    static std::string Name(const std::string& name);
    static std::string Address(std::uint32_t address);

private:
    struct Entry {
        std::string who;
        std::string fingerprint;  // empty: secured, its key unknown
        std::uint64_t used = 0;
        bool claimedOnly = true;
    };
    void Remember(const std::string& who, const std::string& fingerprint, bool claimed);
    std::vector<Entry> entries_;
    std::uint64_t clock_ = 0;
};

// Dotted form of an address in network order.
std::string DottedAddress(std::uint32_t address);

}  // namespace zumelko
