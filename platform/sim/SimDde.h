#pragma once
#include "platform/Dde.h"

namespace zumelko::platform::sim {

// Not built yet: no browsers.
class SimDde final : public Dde {
public:
    Hsz CreateStringHandle(const std::string&) override { return 0; }
    void FreeStringHandle(Hsz) override {}
    Hconv Connect(Hsz, Hsz) override { return 0; }
    void Disconnect(Hconv) override {}
    std::optional<std::string> Request(Hconv, Hsz, std::uint32_t, std::uint32_t) override { return std::nullopt; }
    bool Poke(Hconv, Hsz, const std::string&, std::uint32_t) override { return false; }
    void SetDisconnectHandler(std::function<void(Hconv)>) override {}
    std::uint32_t WinExec(const std::string&, int) override { return 2; }
};

}  // namespace zumelko::platform::sim
