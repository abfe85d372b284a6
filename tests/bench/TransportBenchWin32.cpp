// One packet from a sending channel to a receiving channel in another process, over loopback,
// on the Windows desktop (WSAAsyncSelect and window messages), against a plain Winsock copy of
// the same bytes in the same run: blocking send/recv of the same length field and payload,
// connect to close.
//
//   transport_bench_win32 [ITERATIONS-SCALE [PACKET...]]  the table, medians per packet size
//                                                    (all sizes, or those named: "4 KiB"…)
//   transport_bench_win32 --receive channel|plain N  (a receiving process the table starts)
//
// Google Benchmark is not built for mingw-w64, so this is a plain timing loop: for each size
// the plain copy and the channel take turns, and the medians of each are compared. Run it with
// tests/bench/transport-wine.sh.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "framework/Component.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Desktop.h"
#include "tests/bench/WinsockBench.h"
#include "transport/SimpleTcp.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t kChannelPort = 28711;
constexpr std::uint16_t kPlainPort = 28712;
constexpr int kLimitMs = 120000;

using namespace zumelko::bench;

void SendAll(SOCKET s, const char* data, std::size_t size) {
    while (size > 0) {
        const int n = ::send(s, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
        if (n <= 0) throw std::runtime_error("send");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void ReceiveAll(SOCKET s, char* data, std::size_t size) {
    while (size > 0) {
        const int n = ::recv(s, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
        if (n <= 0) throw std::runtime_error("recv");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The receiving process tells the table it listens through an event named after both.
std::wstring ReadyEventName(const std::string& kind, unsigned long table) {
    return L"Local\\zumelko-bench-ready-" + std::wstring(kind.begin(), kind.end()) + L"-" + std::to_wstring(table);
}

void SignalReady(const std::string& kind) {
    const char* table = std::getenv("ZUMELKO_BENCH_TABLE");
    if (table == nullptr) return;
    UniqueHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, ReadyEventName(kind, std::strtoul(table, nullptr, 10)).c_str()));
    if (ready) ::SetEvent(ready.get());
}

// Receives `count` packets with a TSimpleTcp, closing each connection as the program does.
int ChannelReceiver(int count) {
    zumelko::platform::win32::ScopedWin32Desktop desktop;
    zumelko::Component root(nullptr);
    auto& rx = root.Create<zumelko::TSimpleTcp>();
    rx.SetPort(kChannelPort);
    rx.OnError = [](zumelko::Component*, const std::string& m) { std::fprintf(stderr, "receiver: %s\n", m.c_str()); };
    int received = 0;
    rx.OnReceived = [&](zumelko::Component*) { ++received; };
    rx.Listen();
    SignalReady("channel");
    return desktop->loop().RunUntilFor([&] { return received == count; }, kLimitMs) ? 0 : 1;
}

// Receives `count` packets with blocking calls, each into a buffer of the announced size.
int PlainReceiver(int count) {
    Winsock winsock;
    Socket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in sa = Loopback(kPlainPort);
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listener.get(), 1) != 0)
        return 1;
    SignalReady("plain");
    for (int i = 0; i < count; ++i) {
        Socket c(::accept(listener.get(), nullptr, nullptr));
        std::int32_t length = 0;
        ReceiveAll(c.get(), reinterpret_cast<char*>(&length), sizeof length);
        std::vector<char> buffer(static_cast<std::size_t>(length));
        ReceiveAll(c.get(), buffer.data(), buffer.size());
    }
    return 0;
}

// A receiving process of this program, started and ready to take `count` packets.
class Receiver {
public:
    Receiver(const std::string& kind, int count) {
        const std::wstring name = ReadyEventName(kind, ::GetCurrentProcessId());
        UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" --receive " + std::wstring(kind.begin(), kind.end()) +
                            L" " + std::to_wstring(count);
        ::SetEnvironmentVariableW(L"ZUMELKO_BENCH_TABLE", std::to_wstring(::GetCurrentProcessId()).c_str());
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!ready || !::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            throw std::runtime_error("cannot start the receiver");
        process_.reset(pi.hProcess);
        ::CloseHandle(pi.hThread);
        if (::WaitForSingleObject(ready.get(), 30000) != WAIT_OBJECT_0) throw std::runtime_error("receiver not ready");
    }
    ~Receiver() {
        if (::WaitForSingleObject(process_.get(), 30000) != WAIT_OBJECT_0) ::TerminateProcess(process_.get(), 1);
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

private:
    UniqueHandle process_;
};

double PlainCopy(const std::string& payload) {
    const auto start = Clock::now();
    Socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in sa = Loopback(kPlainPort);
    if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) throw std::runtime_error("connect");
    const auto length = static_cast<std::int32_t>(payload.size());
    SendAll(s.get(), reinterpret_cast<const char*>(&length), sizeof length);
    SendAll(s.get(), payload.data(), payload.size());
    char c = 0;
    while (::recv(s.get(), &c, 1, 0) > 0) {
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ChannelCopy(zumelko::platform::win32::ScopedWin32Desktop& desktop, const std::string& payload) {
    zumelko::Component root(nullptr);
    auto& tx = root.Create<zumelko::TSimpleTcp>();
    tx.SetPort(kChannelPort);
    tx.SetHostName("127.0.0.1");
    bool sended = false;
    std::string error;
    tx.OnSended = [&](zumelko::Component*) { sended = true; };
    tx.OnError = [&](zumelko::Component*, const std::string& m) { error = m; };
    // As the program sends a text: a string built for the packet (here a copy of the payload
    // but its last byte, made before the clock starts) handed to the channel, which takes it
    // over and sends it with its NUL, the same number of bytes as the plain copy.
    std::string text(payload.data(), payload.size() - 1);
    const auto start = Clock::now();
    tx.SendString(std::move(text));
    desktop->loop().RunUntilFor([&] { return sended || !error.empty(); }, kLimitMs);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!sended) throw std::runtime_error("channel: " + (error.empty() ? std::string("no delivery") : error));
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int Table(double scale, const std::vector<std::string>& only) {
    struct Size {
        std::size_t bytes;
        int iterations;
        const char* name;
    };
    const Size sizes[] = {{4 << 10, 40, "4 KiB"},   {64 << 10, 40, "64 KiB"}, {1 << 20, 20, "1 MiB"},
                          {16 << 20, 8, "16 MiB"},  {64 << 20, 4, "64 MiB"},  {256 << 20, 3, "256 MiB"}};
    zumelko::platform::win32::ScopedWin32Desktop desktop;
    Winsock winsock;
    std::printf("| packet | channel MiB/s | plain MiB/s | ratio |\n|---:|---:|---:|---:|\n");
    for (const Size& size : sizes) {
        if (!only.empty() && std::find(only.begin(), only.end(), size.name) == only.end()) continue;
        const int n = std::max(1, static_cast<int>(size.iterations * scale));
        std::string payload(size.bytes, '\0');
        for (std::size_t i = 0; i < size.bytes; ++i) payload[i] = static_cast<char>(i * 2654435761u >> 13);
        std::vector<double> plain;
        std::vector<double> channel;
        {
            Receiver plainReceiver("plain", n);
            Receiver channelReceiver("channel", n);
            for (int i = 0; i < n; ++i) {
                plain.push_back(PlainCopy(payload));
                channel.push_back(ChannelCopy(desktop, payload));
            }
        }
        const double mib = static_cast<double>(size.bytes) / (1024.0 * 1024.0);
        const double p = Median(plain);
        const double c = Median(channel);
        std::printf("| %s | %.1f | %.1f | %.2f |\n", size.name, mib / c, mib / p, p / c);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 4 && std::string(argv[1]) == "--receive") {
            const int count = std::atoi(argv[3]);
            return std::string(argv[2]) == "channel" ? ChannelReceiver(count) : PlainReceiver(count);
        }
        return Table(argc > 1 ? std::atof(argv[1]) : 1.0, std::vector<std::string>(argv + std::min(argc, 2), argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "transport_bench_win32: %s\n", e.what());
        return 1;
    }
}
