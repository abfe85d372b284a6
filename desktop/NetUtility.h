#pragma once
// The machines of the local workgroup or domain, as the network neighbourhood lists them,
// and the local user and computer names.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Component.h"
#include "framework/Controls.h"
#include "framework/StringList.h"

namespace zumelko {

// Whether a name is written as an address: dotted or plain numbers in any form the systems'
// address parsers take ("10.0.0.5", "10.5", "0x0a000005", "167772165"), with or without a
// final dot, or anything with a colon (IPv6). No machine is named so: such a name from the
// network would stand for whatever address its sender chose.
bool IsAddressLiteral(std::string_view name);

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
    // how many are listed. Names written as addresses are no machines' names and are left out.
    int Detect();
    // How many names at the start of the list come from the workgroup; the rest were found by
    // discovery, which anyone on the network can answer.
    int WorkgroupCount() const { return workgroup_; }
    // Appends to machines the discovered names that are neither listed already nor this machine
    // (compared without regard to ASCII case) nor written as addresses, sorted the same way,
    // each once.
    static void AddDiscovered(StringList& machines, std::vector<std::string> discovered, const std::string& self);
    int Count() const { return static_cast<int>(machines_.Count()); }
    // Raises Error for an index outside 0 .. Count() - 1.
    const std::string& MachineName(int index) const;
    const StringList& Machines() const { return machines_; }

    // Whether the machine's DNS-SD record says it takes the encrypted channel, and on which port
    // (0 when it does not, or was not seen by discovery). Asked of discovery on every call, as
    // known at that moment; the name compares without regard to ASCII case. A machine seen
    // with several records announces the channel when any of them does.
    bool AnnouncesSecure(const std::string& machine) const { return SecurePort(machine) != 0; }
    int SecurePort(const std::string& machine) const;
    // The port a record's TXT strings give for the encrypted channel; 0 for none. Keys compare
    // without regard to case, as DNS-SD reads them; the value must be a port in plain decimal
    // digits, 1 to 65535. A record that gives the key more than once says nothing: DNS-SD would
    // take the first, but not every system's DNS-SD keeps the strings in their order.
    static int SecurePortIn(const std::vector<std::string>& txt);

    // Asked of the system on every call; empty when it cannot tell.
    std::string UserName() const;
    std::string ComputerName() const;

    NotifyEvent OnDetected;

private:
    StringList machines_;
    int workgroup_ = 0;
};

}  // namespace zumelko
