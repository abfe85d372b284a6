// Finding the other instances by DNS-SD. Without the system's functions (older Windows; Wine)
// the list is the workgroup's alone and one line says so. With them, the system's threads are
// played by stand-ins that call back from threads of their own, as the system does, so what
// reaches the destination list went through the program's real hand-over to the loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/Program.h"
#include "core/AllowedSenders.h"
#include "core/MainForm.h"
#include "desktop/DdeClientConv.h"
#include "desktop/NetUtility.h"
#include "dialogs/ReceiveDialog.h"
#include "framework/Application.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32DnsSd.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

using namespace zumelko::platform;
using win32::DnsSdApi;
using win32::Win32Discovery;

std::vector<std::string> Listed() {
    Component owner{nullptr};
    TNetUtility& net = owner.Create<TNetUtility>();
    net.Detect();
    std::vector<std::string> names;
    for (int i = 0; i < net.Count(); ++i) names.push_back(net.MachineName(i));
    return names;
}

TEST(Discovery, WithoutTheSystemsFunctionsTheListIsTheWorkgroupsAndOneLineSaysSo) {
    auto& network = Desk().network();
    HMODULE dnsapi = ::LoadLibraryA("dnsapi.dll");
    ASSERT_NE(dnsapi, nullptr);
    const bool systemHasThem = ::GetProcAddress(dnsapi, "DnsServiceBrowse") != nullptr;
    ::FreeLibrary(dnsapi);

    ::testing::internal::CaptureStderr();
    network.StartDiscovery(Desk().loop());
    Pump(200);
    EXPECT_EQ(Listed(), std::vector<std::string>{}) << "the workgroup's list alone (none here)";
    EXPECT_EQ(Listed(), std::vector<std::string>{});
    network.StopDiscovery();
    const std::string log = ::testing::internal::GetCapturedStderr();
    if (systemHasThem) {
        EXPECT_TRUE(network.Discovery() == nullptr);
        GTEST_SKIP() << "this system has the DNS-SD functions; the other test plays them";
    }
    EXPECT_EQ(log,
              "zumelko: this Windows has no DNS-SD functions (Windows 10 1809 and later have them); "
              "other machines are found in the workgroup only\n");
    // The program goes on: its loop still runs.
    bool ran = false;
    const Hwnd w = Desk().loop().CreateHiddenWindow([&](std::uint32_t, WParam, LParam) -> LResult {
        ran = true;
        return 0;
    });
    Desk().loop().PostMessage(w, WM_USER_ + 1, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return ran; }, 2000));
    Desk().loop().DestroyWindow(w);
}

// The system as the stand-ins play it: every answer comes on a thread of its own.
struct System {
    std::mutex mutex;
    std::vector<std::thread> threads;
    std::wstring instanceName;
    WORD port = 0;
    std::vector<std::pair<std::wstring, std::wstring>> properties;
    ULONG registerVersion = 0;
    PDNS_SERVICE_REGISTER_REQUEST registration = nullptr;
    PDNS_SERVICE_BROWSE_REQUEST browse = nullptr;
    PDNS_SERVICE_CANCEL cancel = nullptr;
    std::wstring query;
    DNS_SERVICE_INSTANCE made{};
    DNS_SERVICE_INSTANCE given{};  // what the completions hand over, for the program to free
    int instancesFreed = 0;
    int listsFreed = 0;
    int cancels = 0;
    int withdrawals = 0;
    DNS_STATUS browseAnswer = win32::kDnsRequestPending;

    template <typename F>
    void Later(F f) {
        std::lock_guard lock(mutex);
        threads.emplace_back([f] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            f();
        });
    }
    void Join() {
        for (auto& t : threads) t.join();
        threads.clear();
    }
};
System g_system;

DnsSdApi StandIns() {
    DnsSdApi api;
    api.constructInstance = [](PCWSTR service, PCWSTR, PIP4_ADDRESS, PIP6_ADDRESS, WORD port, WORD, WORD,
                               DWORD count, PCWSTR* keys, PCWSTR* values) -> PDNS_SERVICE_INSTANCE {
        g_system.instanceName = service;
        g_system.port = port;
        g_system.properties.clear();
        for (DWORD i = 0; i < count; ++i) g_system.properties.emplace_back(keys[i], values[i]);
        return &g_system.made;
    };
    api.freeInstance = [](PDNS_SERVICE_INSTANCE) { ++g_system.instancesFreed; };
    api.registerService = [](PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) -> DWORD {
        g_system.registration = request;
        g_system.registerVersion = request->Version;
        g_system.Later([request] {
            request->pRegisterCompletionCallback(ERROR_SUCCESS, request->pQueryContext, &g_system.given);
        });
        return win32::kDnsRequestPending;
    };
    api.deregisterService = [](PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) -> DWORD {
        ++g_system.withdrawals;
        g_system.Later([request] {
            request->pRegisterCompletionCallback(ERROR_SUCCESS, request->pQueryContext, &g_system.given);
        });
        return win32::kDnsRequestPending;
    };
    api.browse = [](PDNS_SERVICE_BROWSE_REQUEST request, PDNS_SERVICE_CANCEL cancel) -> DNS_STATUS {
        g_system.browse = request;
        g_system.cancel = cancel;
        g_system.query = request->QueryName;
        return g_system.browseAnswer;
    };
    api.browseCancel = [](PDNS_SERVICE_CANCEL cancel) -> DNS_STATUS {
        EXPECT_EQ(cancel, g_system.cancel);
        ++g_system.cancels;
        g_system.Later([] {
            g_system.browse->pBrowseCallback(ERROR_CANCELLED, g_system.browse->pQueryContext, nullptr);
        });
        return ERROR_SUCCESS;
    };
    api.free = [](PVOID, DNS_FREE_TYPE type) {
        EXPECT_EQ(type, DnsFreeRecordList);
        ++g_system.listsFreed;
    };
    return api;
}

struct Record {
    WORD type;
    std::wstring target;
    DWORD ttl;
};

// Hands one answer of the network to the browse callback on a thread of the system's, and
// returns when that thread is done with it (not when the loop has taken it).
void Answer(const std::vector<Record>& records) {
    static wchar_t owner[] = L"_zumelko._tcp.local";
    std::vector<DNS_RECORDW> list(records.size());
    std::vector<std::wstring> targets(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        targets[i] = records[i].target;
        list[i].pNext = i + 1 < list.size() ? &list[i + 1] : nullptr;
        list[i].pName = owner;
        list[i].wType = records[i].type;
        list[i].dwTtl = records[i].ttl;
        list[i].Data.PTR.pNameHost = targets[i].data();
    }
    std::thread network([&] {
        g_system.browse->pBrowseCallback(ERROR_SUCCESS, g_system.browse->pQueryContext,
                                         reinterpret_cast<PDNS_RECORD>(list.data()));
    });
    network.join();
}

// A TXT record of an instance, with its strings, handed over with the names' records as the
// system does.
struct TxtRecord {
    std::wstring instance;
    std::vector<std::wstring> strings;
};

void AnswerWithTxt(const std::vector<Record>& names, const std::vector<TxtRecord>& txts) {
    std::vector<std::unique_ptr<std::byte[]>> memory;
    std::vector<std::wstring> texts;
    texts.reserve(1024);
    std::vector<DNS_RECORDW*> list;
    static wchar_t owner[] = L"_zumelko._tcp.local";
    for (const auto& r : names) {
        memory.push_back(std::make_unique<std::byte[]>(sizeof(DNS_RECORDW)));
        auto* record = new (memory.back().get()) DNS_RECORDW{};
        texts.push_back(r.target);
        record->pName = owner;
        record->wType = r.type;
        record->dwTtl = r.ttl;
        record->Data.PTR.pNameHost = texts.back().data();
        list.push_back(record);
    }
    for (const auto& t : txts) {
        // The strings' pointers run past the record's own one slot, as the system lays them out.
        memory.push_back(std::make_unique<std::byte[]>(sizeof(DNS_RECORDW) + t.strings.size() * sizeof(PWSTR)));
        auto* record = new (memory.back().get()) DNS_RECORDW{};
        texts.push_back(t.instance);
        record->pName = texts.back().data();
        record->wType = DNS_TYPE_TEXT;
        record->dwTtl = 120;
        record->Data.TXT.dwStringCount = static_cast<DWORD>(t.strings.size());
        for (std::size_t i = 0; i < t.strings.size(); ++i) {
            texts.push_back(t.strings[i]);
            record->Data.TXT.pStringArray[i] = texts.back().data();
        }
        list.push_back(record);
    }
    ASSERT_LE(texts.size(), 1024u);  // no pointer into texts moved
    for (std::size_t i = 0; i + 1 < list.size(); ++i) list[i]->pNext = list[i + 1];
    std::thread network([&] {
        g_system.browse->pBrowseCallback(ERROR_SUCCESS, g_system.browse->pQueryContext,
                                         reinterpret_cast<PDNS_RECORD>(list.empty() ? nullptr : list.front()));
    });
    network.join();
}

TEST(Discovery, MachinesFoundJoinTheListOnceSortedNeverItselfAndLeaveWithTheirGoodbye) {
    auto& network = Desk().network();
    Component owner{nullptr};
    const std::string self = owner.Create<TNetUtility>().ComputerName();
    network.StartDiscovery(Desk().loop(), StandIns());
    ASSERT_NE(g_system.browse, nullptr);
    const std::wstring type = L"._zumelko._tcp.local";
    EXPECT_EQ(g_system.instanceName, std::wstring(self.begin(), self.end()) + type);
    EXPECT_EQ(g_system.port, 8000);
    EXPECT_EQ(g_system.registerVersion, DNS_QUERY_REQUEST_VERSION1);
    EXPECT_EQ(g_system.query, L"_zumelko._tcp.local");
    EXPECT_EQ(g_system.browse->Version, DNS_QUERY_REQUEST_VERSION1);

    const std::wstring selfName(self.begin(), self.end());
    const std::string sensei = "\x90\xe6\x90\xb6";  // 先生 in code page 932
    struct Case {
        const char* what;
        std::vector<Record> answer;
        std::vector<std::string> listed;
    };
    const std::vector<Case> cases = {
        {"a machine, with its other records",
         {{DNS_TYPE_PTR, L"hostb" + type, 120}, {DNS_TYPE_SRV, L"hostc" + type, 120}},
         {"hostb"}},
        {"another with the final dot, and this machine",
         {{DNS_TYPE_PTR, L"HOSTA" + type + L".", 4500}, {DNS_TYPE_PTR, selfName + type, 4500}},
         {"HOSTA", "hostb"}},
        {"a known one in other letters", {{DNS_TYPE_PTR, L"HostB" + type, 120}}, {"HOSTA", "hostb"}},
        {"a Japanese name, in the code page", {{DNS_TYPE_PTR, L"\u5148\u751f" + type, 120}},
         {"HOSTA", "hostb", sensei}},
        {"names no machine has",
         {{DNS_TYPE_PTR, L"a\x01z" + type, 120},
          {DNS_TYPE_PTR, L"_zumelko._tcp.local", 120},
          {DNS_TYPE_PTR, type, 120},
          {DNS_TYPE_PTR, std::wstring(64, L'x') + type, 120},
          {DNS_TYPE_PTR, L"x._other._tcp.local", 120},
          {DNS_TYPE_PTR, L"es\\.caped" + type, 120},
          {DNS_TYPE_PTR, L"\x0E01" + type, 120},
          {DNS_TYPE_PTR, L"hostd" + type + L".evil", 120}},
         {"HOSTA", "hostb", sensei}},
        {"a goodbye", {{DNS_TYPE_PTR, L"hostb" + type, 0}}, {"HOSTA", sensei}},
    };
    std::vector<std::string> before;
    int answers = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Answer(c.answer);
        ++answers;
        EXPECT_EQ(Listed(), before) << "only the loop takes what the system's thread saw";
        EXPECT_TRUE(PumpUntil([&] { return Listed() == c.listed; }, 3000));
        EXPECT_EQ(Listed(), c.listed);
        before = c.listed;
    }

    // A flood keeps the list bounded and says so once.
    ::testing::internal::CaptureStderr();
    for (int round = 0; round < 2; ++round) {
        std::vector<Record> flood;
        for (int i = 0; i < 5000; ++i) flood.push_back({DNS_TYPE_PTR, L"m" + std::to_wstring(round * 5000 + i) + type, 120});
        Answer(flood);
        ++answers;
        EXPECT_TRUE(PumpUntil([&] { return network.DiscoveredMachines().size() == Win32Discovery::kMaxMachines; },
                              5000))
            << network.DiscoveredMachines().size();
    }
    const std::string flooded = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(flooded, "zumelko: too many machines announce themselves by multicast DNS; the list keeps the first ones\n");
    EXPECT_EQ(Listed().size(), Win32Discovery::kMaxMachines);
    EXPECT_EQ(Listed().front(), "HOSTA");

    // Quitting cancels browsing and withdraws this machine, once the system confirms both;
    // everything the system handed over has been freed.
    network.StopDiscovery();
    EXPECT_EQ(g_system.cancels, 1);
    EXPECT_EQ(g_system.withdrawals, 1);
    g_system.Join();
    EXPECT_EQ(g_system.listsFreed, answers);
    EXPECT_EQ(g_system.instancesFreed, 3) << "the one made, and one from each completion";
    EXPECT_EQ(Listed(), std::vector<std::string>{});

    // A browse the system refuses: one line, the workgroup's list, still announced.
    g_system.browseAnswer = DNS_ERROR_RCODE_SERVER_FAILURE;
    ::testing::internal::CaptureStderr();
    network.StartDiscovery(Desk().loop(), StandIns());
    Pump(100);
    const std::string refused = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(network.Discovery(), nullptr);
    EXPECT_FALSE(network.Discovery()->Browsing());
    EXPECT_EQ(refused, "zumelko: cannot look for other machines by multicast DNS; they are found in the "
                       "workgroup only (error 9002)\n");
    EXPECT_EQ(Listed(), std::vector<std::string>{});
    network.StopDiscovery();
    EXPECT_EQ(g_system.cancels, 1);
    EXPECT_EQ(g_system.withdrawals, 2);
    g_system.Join();
}

// Anyone on the network can announce a machine. What it announces is offered as a destination,
// but grants nothing: with only known machines allowed, a stranger announced under a name that
// resolves to it, or under its address, is still reset at the door.
TEST(Discovery, AnnouncedMachinesAreOfferedButMayNotSend) {
    auto& network = Desk().network();
    g_system.browseAnswer = win32::kDnsRequestPending;
    network.StartDiscovery(Desk().loop(), StandIns());
    ASSERT_NE(g_system.browse, nullptr);
    Application& app = App();
    DdeInstance dde;
    CreateForms(app);
    int offered = 0;
    Desk().ui().onShown = [&](Form& form, Hwnd window) {
        if (dynamic_cast<TForm5*>(&form) != nullptr) ++offered;
        ::PostMessageW(win32::AsHandle<HWND>(window), WM_CLOSE, 0, 0);
    };
    const std::wstring type = L"._zumelko._tcp.local";
    Answer({{DNS_TYPE_PTR, L"localhost" + type, 120}, {DNS_TYPE_PTR, L"127.0.0.9" + type, 120},
            {DNS_TYPE_PTR, L"0x7f000009" + type, 120}});
    ASSERT_TRUE(PumpUntil([&] { return network.DiscoveredMachines().size() == 3; }, 3000));
    Form1->SenderMode = KnownSenders;
    Form1->UpdateThisList1Click(nullptr);
    std::vector<std::string> menu;
    for (std::size_t i = 2; i < Form1->PopupMenu1->Count(); ++i) menu.push_back(Form1->PopupMenu1->Item(i).Caption());
    EXPECT_EQ(menu, std::vector<std::string>{"localhost"}) << "addresses are no machine's name";
    Pump(200);  // whatever the list would look up has time to come in
    EXPECT_EQ(Form1->AllowedSenders1->Pending(), 0u);

    for (const char* source : {"127.0.0.1", "127.0.0.9"}) {
        SCOPED_TRACE(source);
        ::testing::internal::CaptureStderr();
        std::atomic<bool> done{false};
        Ending ending = Ending::None;
        std::thread peer([&] {
            ending = SendPacketFrom(source, 8000, "string\r\nu\r\nM\r\n");
            if (ending == Ending::Closed) ending = SendPacketFrom(source, 8001, std::string("hello", 6));
            done = true;
        });
        EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
        peer.join();
        Pump(100);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(ending, Ending::Reset);
        EXPECT_EQ(offered, 0);
        EXPECT_NE(log.find(std::string("8000 from ") + source), std::string::npos) << log;
    }
    Desk().ui().onShown = nullptr;
    app.DestroyForms();
    ForgetForms();
    network.StopDiscovery();
    g_system.Join();
}

TEST(Discovery, TheRecordSaysThisInstanceTakesTheEncryptedChannelAndPeersRecordsAreReadSafely) {
    auto& network = Desk().network();
    g_system.browseAnswer = win32::kDnsRequestPending;
    network.StartDiscovery(Desk().loop(), StandIns());
    ASSERT_NE(g_system.browse, nullptr);
    EXPECT_EQ(g_system.properties, (std::vector<std::pair<std::wstring, std::wstring>>{{L"secure", L"8002"}}));

    const std::wstring type = L"._zumelko._tcp.local";
    std::vector<std::wstring> many(100, L"x=1");
    many.push_back(L"secure=8002");  // beyond what is kept of one record
    AnswerWithTxt({{DNS_TYPE_PTR, L"hostb" + type, 120},
                   {DNS_TYPE_PTR, L"hostc" + type, 120},
                   {DNS_TYPE_PTR, L"hostd" + type, 120},
                   {DNS_TYPE_PTR, L"hoste" + type, 120},
                   {DNS_TYPE_PTR, L"hostf" + type, 120}},
                  {{L"hostb" + type, {L"secure=8002"}},
                   {L"HostC" + type + L".", {L"Secure=9443", L"other=1"}},
                   {L"hostd" + type, many},
                   {L"hoste" + type, {std::wstring(4000, L'é'), L"secure=٨٠٠٢"}},
                   {L"hostf" + type, {L"secure=70000"}},
                   // A record for a machine that announced no name, and one for another service.
                   {L"hostg" + type, {L"secure=8002"}},
                   {L"hostb._other._tcp.local", {L"secure=1234"}}});
    Component owner{nullptr};
    TNetUtility& net = owner.Create<TNetUtility>();
    ASSERT_TRUE(PumpUntil([&] { return net.SecurePort("hostb") != 0; }, 3000));
    for (const auto& [machine, port] : std::vector<std::pair<std::string, int>>{
             {"hostb", 8002}, {"HOSTC", 9443}, {"hostd", 0}, {"hoste", 0}, {"hostf", 0}, {"hostg", 0}}) {
        EXPECT_EQ(net.SecurePort(machine), port) << machine;
    }
    // A goodbye takes the record with the name.
    AnswerWithTxt({{DNS_TYPE_PTR, L"hostb" + type, 0}}, {});
    EXPECT_TRUE(PumpUntil([&] { return !net.AnnouncesSecure("hostb"); }, 3000));
    EXPECT_TRUE(net.AnnouncesSecure("hostc"));
    network.StopDiscovery();
    g_system.Join();
    EXPECT_FALSE(net.AnnouncesSecure("hostc"));
}

}  // namespace
}  // namespace zumelko::wintest
