// Lists the network neighbourhood as the program sees it: the SMB browsing of the Linux desktop
// walked by the program's own neighbourhood component. One name per line, then "count N".
#include <cstdio>

#include "desktop/NetUtility.h"
#include "platform/qt/SmbNetwork.h"
#include "platform/sim/SimDesktop.h"

namespace {

// Everything simulated but the network neighbourhood.
class BrowsingDesktop final : public zumelko::platform::Desktop {
public:
    zumelko::platform::Loop& loop() override { return sim_.loop(); }
    zumelko::platform::Sockets& sockets() override { return sim_.sockets(); }
    zumelko::platform::Clipboard& clipboard() override { return sim_.clipboard(); }
    zumelko::platform::Gdi& gdi() override { return sim_.gdi(); }
    zumelko::platform::Shell& shell() override { return sim_.shell(); }
    zumelko::platform::Network& network() override { return smb_; }
    zumelko::platform::Dde& dde() override { return sim_.dde(); }
    zumelko::platform::UiHost& ui() override { return sim_.ui(); }

private:
    zumelko::platform::sim::SimDesktop sim_;
    zumelko::platform::qt::SmbNetwork smb_;
};

}  // namespace

int main() {
    BrowsingDesktop desktop;
    zumelko::platform::Install(&desktop);
    int count = 0;
    {
        zumelko::Component root(nullptr);
        auto& net = root.Create<zumelko::TNetUtility>();
        count = net.Detect();
        for (int i = 0; i < net.Count(); ++i) std::printf("%s\n", net.MachineName(i).c_str());
        std::printf("count %d\n", count);
    }
    zumelko::platform::Install(nullptr);
    return 0;
}
