#pragma once
// Packs network-neighbourhood entries into a reader's buffer the way WNetEnumResourceA does:
// NETRESOURCEA records from the front, their strings from the back, nothing past the end.
// The desktops that answer the enumeration themselves share it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Network.h"

namespace zumelko::platform {

struct NetResourceEntry {
    std::uint32_t displayType = 0;
    std::uint32_t usage = 0;
    const std::string* remoteName = nullptr;  // null: the record has none
    const std::string* comment = nullptr;     // null or empty: none
    const std::string* provider = nullptr;
};

// The bytes one entry takes: its record and its strings with their NULs.
std::size_t PackedSize(const NetResourceEntry& entry);

class NetResourcePacker {
public:
    NetResourcePacker(void* buffer, std::size_t size) : base_(static_cast<char*>(buffer)), stringsStart_(size) {}
    // Writes the entry when it fits in what is left; false (and nothing written) otherwise.
    bool Add(const NetResourceEntry& entry);

private:
    char* Place(const std::string& text);

    char* base_;
    std::size_t recordsEnd_ = 0;
    std::size_t stringsStart_;
};

}  // namespace zumelko::platform
