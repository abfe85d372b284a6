#pragma once
// The simulated network neighbourhood: a tree of providers, workgroups and machines that a
// test shapes entry by entry (nameless entries, entries too big for the reader's buffer,
// errors at any level, empty levels), and the local user and computer names.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Network.h"

namespace zumelko::platform::sim {

struct SimNetEntry {
    // The entry's lpRemoteName; nothing for an entry without one.
    std::optional<std::string> remoteName;
    // Its lpComment: a long one makes the entry too big for a small buffer.
    std::string comment;
    // Its lpProvider; the builders give every entry its provider's name.
    std::string provider;
    std::uint32_t displayType = RESOURCEDISPLAYTYPE_GENERIC_;
    // Reading this entry fails with this code (and keeps failing: the entry stays next).
    std::uint32_t readError = NO_ERROR_;
    // Opening an enumeration of its members fails with this code.
    std::uint32_t openError = NO_ERROR_;
    std::vector<SimNetEntry> members;

    // Builders, each returning the entry added.
    SimNetEntry& AddWorkgroup(const std::string& name);
    // A machine: its remote name is two backslashes and the name.
    SimNetEntry& AddMachine(const std::string& name);
    SimNetEntry& AddEntry(SimNetEntry entry);
};

class SimNetwork final : public Network {
public:
    std::uint32_t WNetOpenEnum(std::uint32_t scope, std::uint32_t type, std::uint32_t usage, const NetResource* parent,
                               EnumHandle& handle) override;
    std::uint32_t WNetEnumResource(EnumHandle handle, std::uint32_t& count, void* buffer,
                                   std::uint32_t& bufferSize) override;
    std::uint32_t WNetCloseEnum(EnumHandle handle) override;
    bool GetUserName(char* buffer, std::uint32_t& size) override;
    bool GetComputerName(char* buffer, std::uint32_t& size) override;
    std::vector<std::string> DiscoveredMachines() override { return discovered; }
    std::vector<DiscoveredRecord> DiscoveredRecords() override { return records; }

    // What discovery answers, as it stands.
    std::vector<std::string> discovered;
    // What the records of discovered machines say, as tests set it.
    std::vector<DiscoveredRecord> records;

    // The top of the tree: its members are the providers; openError fails the top level.
    // Shape it before enumerating: open enumerations point into it.
    SimNetEntry root;
    SimNetEntry& AddProvider(const std::string& name);

    // Empty optional: the call fails.
    std::optional<std::string> userName = std::string("user1");
    std::optional<std::string> computerName = std::string("PC01");

    // Enumerations opened and not closed yet; every open asked for (the parent's remote name,
    // nothing for the top or a parent without one); every read made, with what was asked.
    std::size_t OpenEnumerations() const { return open_.size(); }
    const std::vector<std::optional<std::string>>& Opens() const { return opens_; }
    struct Read {
        std::uint32_t count;
        std::uint32_t bufferSize;
        std::uint32_t result;
    };
    const std::vector<Read>& Reads() const { return reads_; }

    // The bytes an entry takes in a reader's buffer: its record and its strings.
    static std::size_t EntrySize(const SimNetEntry& entry);

private:
    struct Open {
        const SimNetEntry* container;
        std::size_t next = 0;
    };
    const SimNetEntry* FindContainer(const NetResource& parent) const;

    std::map<EnumHandle, Open> open_;
    EnumHandle nextHandle_ = 0x5000;
    std::vector<Read> reads_;
    std::vector<std::optional<std::string>> opens_;
};

}  // namespace zumelko::platform::sim
