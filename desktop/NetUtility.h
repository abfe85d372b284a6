#pragma once
// The machines of the local workgroup or domain, as the network neighbourhood lists them,
// and the local user and computer names.
#include <cstddef>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Controls.h"
#include "framework/StringList.h"

namespace zumelko {

class TNetUtility final : public Component {
public:
    // Every read of the neighbourhood asks for one entry into a buffer of this size; an entry
    // that does not fit ends the list.
    static constexpr std::size_t kBufferSize = 300;
    static constexpr int kMaxMachines = 30;
    static constexpr std::size_t kNameBufferSize = 255;

    explicit TNetUtility(Component* owner) : Component(owner) {}

    // Replaces the list with the members of the first workgroup of the first network provider
    // (at most 30), followed by the machines found by discovery, fires OnDetected, and returns
    // how many are listed.
    int Detect();
    // Appends to machines the discovered names that are neither listed already nor this machine
    // (compared without regard to ASCII case), sorted the same way, each once.
    static void AddDiscovered(StringList& machines, std::vector<std::string> discovered, const std::string& self);
    int Count() const { return static_cast<int>(machines_.Count()); }
    // Raises Error for an index outside 0 .. Count() - 1.
    const std::string& MachineName(int index) const;
    const StringList& Machines() const { return machines_; }

    // Asked of the system on every call; empty when it cannot tell.
    std::string UserName() const;
    std::string ComputerName() const;

    NotifyEvent OnDetected;

private:
    StringList machines_;
};

}  // namespace zumelko
