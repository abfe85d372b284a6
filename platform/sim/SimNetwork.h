#pragma once
#include "platform/Network.h"

namespace zumelko::platform::sim {

// Not built yet: no network neighbourhood.
class SimNetwork final : public Network {
public:
    std::uint32_t WNetOpenEnum(std::uint32_t, std::uint32_t, std::uint32_t, const NetResource*, EnumHandle& h) override { h = 0; return ERROR_NO_NETWORK_; }
    std::uint32_t WNetEnumResource(EnumHandle, std::uint32_t&, void*, std::uint32_t&) override { return ERROR_NO_MORE_ITEMS_; }
    std::uint32_t WNetCloseEnum(EnumHandle) override { return NO_ERROR_; }
    bool GetUserName(char*, std::uint32_t&) override { return false; }
    bool GetComputerName(char*, std::uint32_t&) override { return false; }
};

}  // namespace zumelko::platform::sim
