#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/NetUtility.h"
#include "framework/Error.h"
#include "platform/sim/SimDesktop.h"

namespace {

using zumelko::TNetUtility;
using namespace zumelko::platform;
using zumelko::platform::sim::ScopedSimDesktop;
using zumelko::platform::sim::SimNetEntry;
using zumelko::platform::sim::SimNetwork;

class NetUtilityTest : public ::testing::Test {
protected:
    NetUtilityTest() {
        net.OnDetected = [this](zumelko::Component* sender) {
            detected.push_back(sender);
            countWhenDetected = net.Count();
        };
    }

    SimNetwork& network() { return desktop->network(); }
    SimNetEntry& Workgroup() { return network().AddProvider("Microsoft Windows Network").AddWorkgroup("WORKGROUP"); }

    std::vector<std::string> Names() const { return net.Machines().Lines(); }

    // Runs Detect and checks what every Detect must leave behind, whatever the network did.
    int Detect() {
        detected.clear();
        const int found = net.Detect();
        EXPECT_EQ(detected.size(), 1u);
        EXPECT_EQ(detected.empty() ? nullptr : detected[0], &net);
        EXPECT_EQ(countWhenDetected, found) << "OnDetected sees the finished list";
        EXPECT_EQ(net.Count(), found);
        EXPECT_EQ(network().OpenEnumerations(), 0u);
        return found;
    }

    ScopedSimDesktop desktop;
    zumelko::Component owner{nullptr};
    TNetUtility& net = owner.Create<TNetUtility>();
    std::vector<zumelko::Component*> detected;
    int countWhenDetected = -1;
};

TEST_F(NetUtilityTest, ListsTheWorkgroupsMachinesInNetworkOrderWithoutTheBackslashes) {
    SimNetEntry& wg = Workgroup();
    for (const char* name : {"PC02", "pc01", "PC01", "PC02", "\x83\x7d\x83\x56\x83\x93"}) wg.AddMachine(name);
    network().computerName = "PC01";

    EXPECT_EQ(Detect(), 5);
    EXPECT_EQ(Names(), (std::vector<std::string>{"PC02", "pc01", "PC01", "PC02", "\x83\x7d\x83\x56\x83\x93"}));
    EXPECT_EQ(net.MachineName(0), "PC02");
    EXPECT_EQ(net.MachineName(4), "\x83\x7d\x83\x56\x83\x93");
    for (const auto& read : network().Reads()) {
        EXPECT_EQ(read.count, 1u);
        EXPECT_EQ(read.bufferSize, 300u);
    }
}

TEST_F(NetUtilityTest, TakesTheFirst30NamedEntriesAndSkipsNamelessOnes) {
    SimNetEntry& wg = Workgroup();
    wg.AddEntry(SimNetEntry{});  // no remote name
    for (int i = 0; i < 40; ++i) {
        wg.AddMachine("M" + std::to_string(i));
        if (i % 10 == 5) wg.AddEntry(SimNetEntry{});
    }
    EXPECT_EQ(Detect(), 30);
    EXPECT_EQ(Names().front(), "M0");
    EXPECT_EQ(Names().back(), "M29");
}

TEST_F(NetUtilityTest, AnEntryThatDoesNotFitOrFailsEndsTheListKeepingWhatCameBefore) {
    SimNetEntry& wg = Workgroup();
    wg.AddMachine("A");
    SimNetEntry fits;
    fits.remoteName = "\\\\B";
    fits.provider = wg.provider;
    fits.comment = std::string(300 - SimNetwork::EntrySize(fits) - 1, 'x');
    ASSERT_EQ(SimNetwork::EntrySize(fits), 300u);
    wg.AddEntry(fits);
    SimNetEntry tooBig = fits;
    tooBig.remoteName = "\\\\C";
    tooBig.comment += 'x';
    wg.AddEntry(tooBig);
    wg.AddMachine("D");

    EXPECT_EQ(Detect(), 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "B"}));

    network().root = SimNetEntry{};
    SimNetEntry& again = Workgroup();
    again.AddMachine("A");
    again.AddEntry(SimNetEntry{}).readError = 59;  // an unexpected network error
    again.AddMachine("D");
    EXPECT_EQ(Detect(), 1);
    EXPECT_EQ(Names(), std::vector<std::string>{"A"});
}

TEST_F(NetUtilityTest, OnlyTheFirstProviderAndItsFirstWorkgroupAreVisited) {
    SimNetEntry& provider = network().AddProvider("Microsoft Windows Network");
    provider.AddWorkgroup("WORKGROUP").AddMachine("PC01");
    provider.AddWorkgroup("OTHER").AddMachine("PC99");
    network().AddProvider("Web Client Network").AddWorkgroup("WEB").AddMachine("WEB01");
    EXPECT_EQ(Detect(), 1);
    EXPECT_EQ(Names(), std::vector<std::string>{"PC01"});
}

TEST_F(NetUtilityTest, AFailingOrEmptyUpperLevelGivesAnEmptyList) {
    // opens: how far down the descent may go; no level is opened from an entry never read.
    struct Case {
        const char* what;
        std::size_t opens;
        void (*shape)(SimNetwork&);
    };
    const Case cases[] = {
        {"no network", 1, [](SimNetwork& n) { n.root.openError = ERROR_NO_NETWORK_; }},
        {"no provider", 1, [](SimNetwork&) {}},
        {"provider cannot be read", 1, [](SimNetwork& n) { n.root.AddEntry(SimNetEntry{}).readError = 59; }},
        {"provider too big", 1,
         [](SimNetwork& n) { n.AddProvider("P").comment = std::string(400, 'x'); }},
        {"provider without a name", 2, [](SimNetwork& n) { n.root.AddEntry(SimNetEntry{}).AddMachine("X"); }},
        {"provider cannot be opened", 2,
         [](SimNetwork& n) {
             SimNetEntry& p = n.AddProvider("P");
             p.openError = ERROR_NO_NETWORK_;
             p.AddWorkgroup("W").AddMachine("X");
         }},
        {"empty provider", 2, [](SimNetwork& n) { n.AddProvider("P"); }},
        {"workgroup too big", 2,
         [](SimNetwork& n) {
             SimNetEntry& w = n.AddProvider("P").AddWorkgroup("W");
             w.comment = std::string(400, 'x');
             w.AddMachine("X");
         }},
        {"workgroup cannot be opened", 3,
         [](SimNetwork& n) {
             SimNetEntry& w = n.AddProvider("P").AddWorkgroup("W");
             w.openError = 5;
             w.AddMachine("X");
         }},
        {"empty workgroup", 3, [](SimNetwork& n) { n.AddProvider("P").AddWorkgroup("W"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t before = network().Opens().size();
        network().root = SimNetEntry{};
        c.shape(network());
        EXPECT_EQ(Detect(), 0);
        EXPECT_TRUE(Names().empty());
        EXPECT_EQ(network().Opens().size() - before, c.opens);
    }
}

TEST_F(NetUtilityTest, EveryDetectReplacesTheList) {
    SimNetEntry& wg = Workgroup();
    wg.AddMachine("PC01");
    wg.AddMachine("PC02");
    EXPECT_EQ(Detect(), 2);
    EXPECT_EQ(Detect(), 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"PC01", "PC02"}));

    network().root.openError = ERROR_NO_NETWORK_;
    EXPECT_EQ(Detect(), 0);
    EXPECT_THROW(net.MachineName(0), zumelko::Error);
}

TEST_F(NetUtilityTest, RemoteNamesTooShortToHoldANameGiveAnEmptyName) {
    SimNetEntry& wg = Workgroup();
    for (const char* remote : {"", "\\", "\\\\"}) {
        SimNetEntry e;
        e.remoteName = remote;
        wg.AddEntry(e);
    }
    wg.AddMachine("PC01");
    EXPECT_EQ(Detect(), 4);
    EXPECT_EQ(Names(), (std::vector<std::string>{"", "", "", "PC01"}));
}

TEST_F(NetUtilityTest, AnIndexOutsideTheListRaisesTheListIndexError) {
    EXPECT_EQ(net.Count(), 0);
    Workgroup().AddMachine("PC01");
    Detect();
    for (int index : {-1, 1, 1000}) {
        try {
            (void)net.MachineName(index);
            ADD_FAILURE() << "no error for index " << index;
        } catch (const zumelko::Error& e) {
            EXPECT_STREQ(e.what(), "ﾘｽﾄのｲﾝﾃﾞｯｸｽが範囲を超えています");
        }
    }
}

TEST_F(NetUtilityTest, UserAndComputerNamesAreAskedEveryTimeAndEmptyWhenTheSystemFails) {
    network().userName = "yamada";
    network().computerName = "PC07";
    EXPECT_EQ(net.UserName(), "yamada");
    EXPECT_EQ(net.ComputerName(), "PC07");

    network().userName = "\x8e\x52\x93\x63";  // in the system code page
    network().computerName = "PC08";
    EXPECT_EQ(net.UserName(), "\x8e\x52\x93\x63");
    EXPECT_EQ(net.ComputerName(), "PC08");

    network().userName = std::string(254, 'u');  // with its NUL exactly the 255 bytes offered
    EXPECT_EQ(net.UserName(), std::string(254, 'u'));
    network().userName = std::string(255, 'u');  // does not fit
    EXPECT_EQ(net.UserName(), "");

    network().userName.reset();
    network().computerName.reset();
    EXPECT_EQ(net.UserName(), "");
    EXPECT_EQ(net.ComputerName(), "");
}

}  // namespace

// Machines found by discovery follow the workgroup's, sorted without regard to case, each once,
// never this machine, never one the workgroup already lists under another case.
TEST_F(NetUtilityTest, AddsDiscoveredMachinesAfterTheWorkgroupsOnceSortedAndNeverItself) {
    struct Case {
        const char* what;
        std::vector<std::string> workgroup;
        std::vector<std::string> discovered;
        std::vector<std::string> listed;
    };
    const std::vector<Case> cases = {
        {"discovery alone, sorted", {}, {"hostc", "HostB", "hosta"}, {"hosta", "HostB", "hostc"}},
        {"after the workgroup, which keeps its order",
         {"PC09", "PC02"},
         {"pc05", "PC03"},
         {"PC09", "PC02", "PC03", "pc05"}},
        {"a workgroup machine under another case is not added", {"PC02"}, {"pc02", "PC04"}, {"PC02", "PC04"}},
        {"this machine is never added", {}, {"pc01", "PC07"}, {"PC07"}},
        {"one machine seen twice is added once", {}, {"PC07", "pc07", "PC07"}, {"PC07"}},
        {"an empty name is no machine", {"PC02"}, {""}, {"PC02"}},
        {"nothing found leaves the workgroup as it is", {"PC02", "PC01"}, {}, {"PC02", "PC01"}},
    };
    network().computerName = "PC01";
    SimNetEntry& wg = Workgroup();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        wg.members.clear();
        for (const auto& name : c.workgroup) wg.AddMachine(name);
        network().discovered = c.discovered;
        EXPECT_EQ(Detect(), static_cast<int>(c.listed.size()));
        EXPECT_EQ(Names(), c.listed);
    }
}

TEST_F(NetUtilityTest, TellsWhoAnnouncesTheEncryptedChannelFromTheirRecordsWhateverTheyHold) {
    // The TXT strings of one record, as anyone on the network may write them.
    struct Case {
        const char* what;
        std::vector<std::string> txt;
        int port;
    };
    const std::vector<Case> cases = {
        {"the program's own", {"secure=8002"}, 8002},
        {"among others, any case of key", {"path=/", "SECURE=9443", "x"}, 9443},
        {"no record strings", {}, 0},
        {"another key", {"securex=8002", "secur=8002"}, 0},
        {"a key without a value", {"secure"}, 0},
        {"an empty value", {"secure="}, 0},
        {"the key twice, one value bad", {"secure=bad", "secure=8002"}, 0},
        {"the key twice, both good", {"secure=8002", "SECURE=8002"}, 0},
        {"port 0", {"secure=0"}, 0},
        {"the highest port", {"secure=65535"}, 65535},
        {"over the range", {"secure=65536"}, 0},
        {"far over the range", {"secure=99999999999999999999"}, 0},
        {"a sign", {"secure=+8002"}, 0},
        {"a negative port", {"secure=-1"}, 0},
        {"blanks", {"secure= 8002"}, 0},
        {"a trailing blank", {"secure=8002 "}, 0},
        {"hex", {"secure=0x1f42"}, 0},
        {"leading zeros within five digits", {"secure=08002"}, 8002},
        {"binary after the digits", {std::string("secure=8002\0\xff", 13)}, 0},
        {"a NUL inside the key", {std::string("sec\0ure=8002", 12)}, 0},
        {"nothing before the equals sign", {"=8002", "secure=8002"}, 8002},
        {"a bad one, then another key", {"secure=x", "other=8002"}, 0},
        {"huge", {std::string(255, 'A'), "secure=" + std::string(248, '9')}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(TNetUtility::SecurePortIn(c.txt), c.port) << c.what;

    // By machine, from what discovery knows at the moment of asking.
    network().records = {{"PC-Secure", {"secure=8002"}},
                         {"pc-twice", {}},
                         {"PC-TWICE", {"secure=8443"}},
                         {"PC-Old", {"path=/"}},
                         {"PC-Bad", {"secure=70000"}}};
    for (const auto& [machine, port] : std::vector<std::pair<std::string, int>>{
             {"PC-Secure", 8002}, {"pc-secure", 8002}, {"PC-TWICE", 8443}, {"PC-Old", 0}, {"PC-Bad", 0},
             {"PC-Unseen", 0}, {"", 0}}) {
        EXPECT_EQ(net.SecurePort(machine), port) << machine;
        EXPECT_EQ(net.AnnouncesSecure(machine), port != 0) << machine;
    }
    network().records.clear();
    EXPECT_FALSE(net.AnnouncesSecure("PC-Secure")) << "gone from discovery, gone from here";
}
