// The peer's key beside the check code, and no way back to plain: other instances at addresses
// of their own on loopback, each with the key of its own start, send to the program and take
// from it over real TLS.
#include <future>
#include <map>

#include "tests/core/ProgramFixture.h"
#include "transport/SecureTcp.h"
#include "transport/tls/TlsContext.h"

namespace zumelko::testing {
namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Another instance's encrypted channel: a key made at its start, listening at its address.
struct OtherInstance {
    std::string addr;
    tls::TlsContext key;
    std::unique_ptr<Component> owner = std::make_unique<Component>(nullptr);
    TSecureTcp& channel = owner->Create<TSecureTcp>(key);
    bool done = false;
};

class PeerKeysTest : public ProgramTest {
protected:
    std::map<std::string, std::unique_ptr<OtherInstance>> instances;

    // The instance called label, started at addr unless it runs already; a new start stops
    // whatever ran at addr before.
    OtherInstance& At(const std::string& label, const char* addr) {
        if (const auto it = instances.find(label); it != instances.end()) return *it->second;
        std::erase_if(instances, [&](const auto& i) { return i.second->addr == addr; });
        auto made = std::make_unique<OtherInstance>();
        made->addr = addr;
        OtherInstance* p = made.get();
        p->channel.OnSended = [p](Component*) { p->done = true; };
        p->channel.OnSendFailed = [p](Component*, TSecureFailure, const std::string&) { p->done = true; };
        AsHost(addr, [p] { p->channel.Listen(); });
        return *(instances[label] = std::move(made));
    }

    void AsHost(const char* addr, const std::function<void()>& act) {
        desk().sockets().SetLocalAddress(Inet(addr));
        act();
        desk().sockets().SetLocalAddress(Inet(kHere));
    }

    // The instance sends a text to the program under a header that names machine; returns the
    // security line of the question it brought (answered YES).
    std::string Receive(OtherInstance& from, const char* addr, const std::string& machine) {
        const std::size_t before = user().Shown().size();
        from.done = false;
        AsHost(addr, [&] {
            MemoryStream text;
            text.Write("text", 5);
            from.channel.SendItem(kHere, std::string_view("string\r\nu\r\n" + machine + "\r\n"), std::move(text));
        });
        EXPECT_TRUE(RunUntil([&] { return from.done; }, 15000));
        for (std::size_t i = before; i < user().Shown().size(); ++i)
            for (const auto& [name, caption] : user().Shown()[i].captions)
                if (user().Shown()[i].name == "Form5" && name == "Label4") return caption;
        return "(no question)";
    }

    // The program sends its clipboard to destination; returns the notice that followed.
    std::string Send(const std::string& destination) {
        const std::size_t before = Notices().size();
        Form1->SendTo(nullptr, destination);
        EXPECT_TRUE(RunUntil([&] { return Notices().size() > before; }, 15000));
        return Notices().empty() ? "(no notice)" : Notices().back();
    }

};

// Which key the peer holds, compared with the one last used under its name or address: on the
// receive question's security line (keyed by the sender's address and the name its header
// claims) and on the sender's notice (keyed by the name the user gave and the address).
TEST_F(PeerKeysTest, TheKeyLineTellsFirstSameAndChangedKeys) {
    Start();
    CopyText("x");
    user().onShow = [](platform::sim::ScriptedDialog& s) { s.Click("Button1"); };
    desk().sockets().AddHost("PEER5", Inet("127.0.0.5"));
    struct Case {
        const char* what;
        bool toProgram;     // the instance sends to the program, or the program to it
        const char* label;  // one label, one start of an instance (one key)
        const char* addr;
        const char* name;   // claimed in the header, or the destination the user gave
        const char* key;
    };
    const Case cases[] = {
        {"received: first", true, "A", "127.0.0.3", "PC-X", kKeyFirst},
        {"received: same", true, "A", "127.0.0.3", "PC-X", kKeySame},
        {"received: the sender restarted", true, "B", "127.0.0.3", "PC-X", kKeyChanged},
        {"received: the restarted sender's next item", true, "B", "127.0.0.3", "PC-X", kKeySame},
        {"received: same name, another address", true, "C", "127.0.0.4", "PC-X", kKeyChanged},
        {"received: a new name at an address whose key is the same", true, "C", "127.0.0.4", "PC-Y", kKeySame},
        {"received: the address's key, under a name that last used another", true, "B", "127.0.0.3", "PC-Y", kKeyChanged},
        {"sent: first", false, "D", "127.0.0.5", "PEER5", kKeyFirst},
        {"sent: same", false, "D", "127.0.0.5", "PEER5", kKeySame},
        {"sent: the receiver restarted", false, "E", "127.0.0.5", "PEER5", kKeyChanged},
        {"sent: the name now leads to another address", false, "F", "127.0.0.6", "PEER5", kKeyChanged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OtherInstance& peer = At(c.label, c.addr);
        if (c.toProgram) {
            const std::string line = Receive(peer, c.addr, c.name);
            EXPECT_EQ(line.rfind(kEncryptedLine, 0), 0u) << line;
            EXPECT_TRUE(EndsWith(line, std::string("\n") + c.key)) << line;
        } else {
            desk().sockets().AddHost(c.name, Inet(c.addr));
            const std::string notice = Send(c.name);
            EXPECT_EQ(notice.rfind(std::string(kTransferDone) + "  " + kEncryptedLine, 0), 0u) << notice;
            EXPECT_TRUE(EndsWith(notice, std::string("  ") + c.key)) << notice;
        }
    }
}

// Once a name or an address completed an encrypted transfer, a secure port that stops answering
// (reset by someone, or an announcement withdrawn) brings a failure notice, and nothing reaches
// the plain ports. Nor does a peer that answers there but fails the handshake ever get plain.
// Only a destination never secured in this run falls back to plain.
TEST_F(PeerKeysTest, NoPlainSendAfterAnEncryptedTransfer) {
    Start();
    CopyText("secret");
    user().onShow = [](platform::sim::ScriptedDialog& s) { s.Click("Button1"); };
    enum Before { SentTo, ReceivedFrom, ReceivedUnderItsName, HandshakeFails, Never };
    struct Case {
        const char* name;
        const char* addr;
        Before before;
        bool plain;
    };
    const Case cases[] = {
        {"SENT", "127.0.0.11", SentTo, false},
        {"FROM-ADDRESS", "127.0.0.12", ReceivedFrom, false},
        {"CLAIMED", "127.0.0.13", ReceivedUnderItsName, false},
        {"GARBAGE", "127.0.0.14", HandshakeFails, false},
        {"CLASSIC", "127.0.0.15", Never, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        desk().sockets().AddHost(c.name, Inet(c.addr));
        if (c.before == SentTo) {
            At(c.name, c.addr);
            EXPECT_EQ(Send(c.name).rfind(kTransferDone, 0), 0u);
        }
        if (c.before == ReceivedFrom) Receive(At(c.name, c.addr), c.addr, "SOMEONE");
        if (c.before == ReceivedUnderItsName) Receive(At(c.name, "127.0.0.23"), "127.0.0.23", c.name);
        instances.clear();  // its secure port now refuses every connection
        // Something answers on the secure port and hangs up without a handshake.
        std::optional<RawListener> garbage;
        if (c.before == HandshakeFails) garbage.emplace(c.addr, 8002);
        auto hangsUp = std::async(std::launch::async, [&] { return garbage && garbage->ReceivePacket(300); });
        RawListener header(c.addr, 8000);
        RawListener data(c.addr, 8001);
        ASSERT_TRUE(header.ok() && data.ok());
        auto plain = std::async(std::launch::async, [&] {
            const bool h = header.ReceivePacket(c.plain ? 5000 : 800).has_value();
            return h && data.ReceivePacket(5000).has_value();
        });
        const std::string notice = Send(c.name);
        ASSERT_TRUE(RunUntil([&] { return Finished(plain) && Finished(hangsUp); }, 15000));
        EXPECT_EQ(plain.get(), c.plain);
        if (c.plain) {
            EXPECT_EQ(notice, kTransferDone);
        } else {
            EXPECT_EQ(notice.rfind(kNetworkError, 0), 0u) << notice;
        }
    }
}

}  // namespace
}  // namespace zumelko::testing
