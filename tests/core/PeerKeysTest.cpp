// The peer's key beside the check code, and no way back to plain: other instances at addresses
// of their own on loopback, each with the key of its own start, over real TLS.
#include <future>
#include <map>

#include "dialogs/ReceiveDialog.h"
#include "tests/core/ProgramFixture.h"
#include "transport/SecureTcp.h"

namespace zumelko::testing {
namespace {

// Another instance: the key made at its start, its encrypted channel at its own address.
struct Other {
    std::string addr;
    tls::TlsContext key;
    Component owner{nullptr};
    TSecureTcp& channel = owner.Create<TSecureTcp>(key);
};

class PeerKeysTest : public ProgramTest {
protected:
    std::map<std::string, std::unique_ptr<Other>> others;

    void From(const std::string& addr, const std::function<void()>& act) {
        desk().sockets().SetLocalAddress(Inet(addr.c_str()));
        act();
        desk().sockets().SetLocalAddress(Inet(kHere));
    }
    // The instance called label, started (listening) at addr unless it runs; a start stops
    // what ran there.
    Other& At(const std::string& label, const char* addr) {
        if (others.contains(label)) return *others[label];
        std::erase_if(others, [&](const auto& o) { return o.second->addr == addr; });
        Other& o = *(others[label] = std::make_unique<Other>());
        o.addr = addr;
        From(addr, [&o] { o.channel.Listen(); });
        return o;
    }
    // The instance sends a text under a header naming machine: the question's security line.
    std::string Receive(Other& o, const std::string& machine) {
        From(o.addr, [&] {
            MemoryStream text;
            text.Write("text", 5);
            o.channel.SendItem(kHere, std::string_view("string\r\nu\r\n" + machine + "\r\n"), std::move(text));
        });
        EXPECT_TRUE(RunUntil([&] { return !o.channel.Sending(); }, 15000));
        return Form5->Label4->Caption();
    }
    // The program sends its clipboard to name, found at addr: the notice that follows.
    std::string Send(const std::string& name, const char* addr) {
        desk().sockets().AddHost(name, Inet(addr));
        const std::size_t before = Notices().size();
        Form1->SendTo(nullptr, name);
        EXPECT_TRUE(RunUntil([&] { return Notices().size() > before; }, 15000));
        return Notices().empty() ? "" : Notices().back();
    }
};

// Transfers in order: 'r' the instance sends to the program (keyed by its address and the name
// its header claims), 's' the program sends to it (keyed by the name given and the address it
// led to); one label, one start of an instance, one key. Then 'd': every instance gone, the
// program sends again. A destination whose name or address went encrypted before gets a failure
// notice and nothing on 8000/8001, and so does one that answers on 8002 and fails the handshake
// ("garbage"); one never secured still gets plain.
TEST_F(PeerKeysTest, TheKeyLineAndNoWayBackToPlain) {
    Start();
    CopyText("secret");
    user().onShow = [](platform::sim::ScriptedDialog& s) { s.Click("Button1"); };
    const struct { char act; const char *label, *addr, *name, *shown; } cases[] = {
        {'r', "A", "127.0.0.3", "PC-X", kKeyFirst},       {'r', "A", "127.0.0.3", "PC-X", kKeySame},
        {'r', "B", "127.0.0.3", "PC-X", kKeyChanged},     {'r', "B", "127.0.0.3", "PC-X", kKeySame},
        {'r', "C", "127.0.0.4", "pc-x", kKeyChanged},     {'r', "C", "127.0.0.4", "PC-Y", kKeySame},
        {'r', "B", "127.0.0.3", "PC-Y", kKeyChanged},     {'s', "D", "127.0.0.5", "PEER5", kKeyFirst},
        {'s', "D", "127.0.0.5", "PEER5", kKeySame},       {'s', "E", "127.0.0.5", "PEER5", kKeyChanged},
        {'s', "F", "127.0.0.6", "PEER5", kKeyChanged},    {'s', "F", "127.0.0.6", "PEER6", kKeySame},
        {'d', "", "127.0.0.5", "PEER5", kNetworkError},   {'d', "", "127.0.0.4", "AT-4", kNetworkError},
        {'d', "", "127.0.0.7", "PC-X", kNetworkError},    {'d', "", "127.0.0.6", "AT-6", kNetworkError},
        {'d', "garbage", "127.0.0.8", "G", kNetworkError}, {'d', "", "127.0.0.9", "CLASSIC", kTransferDone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.act) + " " + c.label + " at " + c.addr + " as " + c.name);
        if (c.act != 'd') {
            Other& o = At(c.label, c.addr);
            const std::string shown = c.act == 'r' ? Receive(o, c.name) : Send(c.name, c.addr);
            EXPECT_TRUE(shown.ends_with(c.shown)) << shown;
            continue;
        }
        others.clear();
        std::optional<RawListener> garbage;
        if (*c.label != '\0') garbage.emplace(c.addr, 8002);
        auto hangsUp = std::async(std::launch::async, [&] { return garbage && garbage->ReceivePacket(300); });
        const bool plain = c.shown == kTransferDone;
        RawListener header(c.addr, 8000), data(c.addr, 8001);
        auto got = std::async(std::launch::async,
                              [&] { return header.ReceivePacket(plain ? 5000 : 800) && data.ReceivePacket(); });
        const std::string notice = Send(c.name, c.addr);
        ASSERT_TRUE(RunUntil([&] { return Finished(got) && Finished(hangsUp); }, 15000));
        EXPECT_EQ(got.get(), plain);
        EXPECT_TRUE(notice.starts_with(c.shown)) << notice;
    }
}

}  // namespace
}  // namespace zumelko::testing
