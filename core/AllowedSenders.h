#pragma once
// The addresses of the machines that may send, looked up from their names away from the loop:
// a name server that takes seconds to answer holds up neither the tray nor the dialogs. Each
// answer is applied as it arrives; a name not yet answered admits nobody.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Event.h"
#include "platform/Sockets.h"
#include "transport/SocketComponents.h"

namespace zumelko {

// A name from the network as a log line may show it: its control bytes as \xNN, so that it can
// neither end the line nor drive the terminal the log goes to.
std::string Printable(const std::string& text);

class TAllowedSenders final : public Component {
public:
    explicit TAllowedSenders(Component* owner);
    ~TAllowedSenders() override;

    // Replaces the names. A dotted address stands for itself at once; every other name is
    // looked up. A name that was listed before keeps the address it had until its new answer
    // replaces it (or its failure takes it away), so a refresh never turns away a known machine
    // in between; a name new to the list admits nobody until its answer comes.
    void SetNames(const std::vector<std::string>& names);
    // May this address (network byte order) send?
    bool Allows(std::uint32_t addr) const;
    // Lookups still under way.
    std::size_t Pending() const;

    // An answer was applied (for those who watch the list fill).
    Event<Component*> OnResolved;

    static constexpr std::uint32_t kAnswerMessage = platform::WM_USER_ + 2;

private:
    struct Entry {
        std::string name;
        std::optional<std::uint32_t> addr;
        platform::AsyncHandle request = 0;
    };
    platform::LResult WndProc(std::uint32_t message, platform::WParam w, platform::LParam l);
    void Cancel(Entry& entry);

    std::vector<Entry> entries_;
    NotifyWindowHandle window_;
};

}  // namespace zumelko
