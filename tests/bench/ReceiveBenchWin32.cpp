// Where a large receive's time goes on the Windows desktop under Wine: the same bytes, sent by
// one blocking send loop in another thread, received on a loopback connection in several ways,
// in turns, packet after packet:
//
//   blocking          a blocking socket, recv of up to 4 MiB at a time (the baseline)
//   blocking, channel's sizes   the same socket, reads sized as the channel sizes them
//   async, channel    WSAAsyncSelect(FD_READ|FD_CLOSE) on a hidden window; each FD_READ reads
//                     as the channel does: reads sized by what is held (256 KiB to 4 MiB),
//                     until one comes back short or 4 MiB are taken
//   async, until empty    the same, reading until WSAEWOULDBLOCK
//   async, N          the same with every read N bytes
//   async, SO_RCVBUF  the channel's reads, the receive buffer set to 8 MiB
//   event             WSAEventSelect and a wait on its event, reading until WSAEWOULDBLOCK
//   async, GetMessageW    the channel's reads, the loop waiting in GetMessageW instead of
//                     MsgWaitForMultipleObjectsEx and a look that does not yield, as the program
//   fresh block       address space set aside per packet and committed as bytes arrive, as the
//                     channel keeps a packet, instead of the one buffer touched beforehand
//   touched           the fresh block's pages written one by one as they are committed
//   read's pages touched  the fresh block's pages that a read may fill written before the read
//
//   receive_bench_win32 [ITERATIONS-SCALE [PACKET...]]   ("1 MiB", "16 MiB"; both when none)
//
// Every receive but the fresh block's goes into the same buffer, allocated and touched before
// the clock starts, so that only the way of receiving differs. A packet's time runs from the go given to the sender
// to its last byte received. Per packet: median time, its ratio against the blocking receive
// (speed: blocking time / this time), recv calls, bytes per call, window messages or event
// wakes (and those that found nothing), time inside recv, and the process's CPU time (both
// threads). With ZUMELKO_WINESERVER_PID set, the Wine server's CPU time too (read from /proc
// through Wine's Z: drive). Run it with tests/bench/receive-wine.sh.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Win32Api.h"
#include "tests/bench/WinsockBench.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t kFirstPort = 28721;
constexpr std::size_t kMostPerTurn = std::size_t{4} << 20;
constexpr std::size_t kFirstRead = 256 * 1024;
constexpr UINT kSocketMessage = WM_USER + 1;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

using namespace zumelko::bench;

enum class Mode { Blocking, Async, Event };

struct Variant {
    const char* name;
    Mode mode;
    std::size_t readSize;  // 0: as the channel sizes its reads
    bool untilEmpty;       // read until WSAEWOULDBLOCK rather than until a short read
    int receiveBuffer;     // SO_RCVBUF, 0 to leave the system's
    bool fresh = false;    // into address space set aside per packet, committed as it grows
    bool getMessage = false;  // the loop waits in GetMessageW rather than as the program's does
    bool touch = false;       // the fresh block's pages written as they are committed
    bool touchRead = false;   // the pages of every read written (with what they hold) before it
};

const Variant kVariants[] = {
    {"blocking, 4 MiB reads", Mode::Blocking, kMostPerTurn, false, 0},
    {"blocking, channel's reads", Mode::Blocking, 0, false, 0},
    {"async, channel's reads", Mode::Async, 0, false, 0},
    {"async, until empty", Mode::Async, 0, true, 0},
    {"async, 64 KiB reads", Mode::Async, 64 << 10, false, 0},
    {"async, 1 MiB reads", Mode::Async, 1 << 20, false, 0},
    {"async, 16 MiB reads", Mode::Async, 16 << 20, false, 0},
    {"async, SO_RCVBUF 8 MiB", Mode::Async, 0, false, 8 << 20},
    {"event, until empty", Mode::Event, 0, true, 0},
    {"async, channel's reads, GetMessageW", Mode::Async, 0, false, 0, false, true},
    {"blocking, 4 MiB reads, fresh block", Mode::Blocking, kMostPerTurn, false, 0, true},
    {"async, channel's reads, fresh block", Mode::Async, 0, false, 0, true},
    {"blocking, 4 MiB reads, fresh block touched", Mode::Blocking, kMostPerTurn, false, 0, true, false, true},
    {"async, channel's reads, fresh block touched", Mode::Async, 0, false, 0, true, false, true},
    {"async, channel's reads, fresh block, read's pages touched", Mode::Async, 0, false, 0, true, false, false, true},
};

// Writes every page of a buffer with what it holds, one locked instruction a page: a page not
// yet in is brought in by one write fault, and nothing the buffer holds changes.
void TouchPages(void* buffer, std::size_t length) {
    auto* p = static_cast<unsigned char*>(buffer);
    unsigned char* const end = p + length;
    while (p < end) {
        std::atomic_ref<unsigned char>(*p).fetch_or(0, std::memory_order_relaxed);
        p += 4096 - (reinterpret_cast<std::uintptr_t>(p) & 4095);
    }
}
constexpr std::size_t kVariantCount = sizeof kVariants / sizeof kVariants[0];

// What one packet cost.
struct Sample {
    double seconds = 0;
    double inRecv = 0;
    double inCommit = 0;
    double cpu = 0;
    double serverCpu = 0;
    long recvCalls = 0;
    long messages = 0;
    long emptyMessages = 0;
};

double ProcessCpu() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& f) {
        return static_cast<double>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) * 1e-7;
    };
    return value(kernel) + value(user);
}

// The Wine server's user and system time, in seconds (clock ticks of 10 ms), or 0.
double ServerCpu() {
    static const std::string path = [] {
        const char* pid = std::getenv("ZUMELKO_WINESERVER_PID");
        return pid == nullptr ? std::string() : "Z:\\proc\\" + std::string(pid) + "\\stat";
    }();
    if (path.empty()) return 0;
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return 0;
    char line[1024] = {};
    const std::size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    line[n] = '\0';
    // Fields 14 and 15 (utime, stime) follow the command name in parentheses.
    const char* p = std::strrchr(line, ')');
    if (p == nullptr) return 0;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) return 0;
    return static_cast<double>(utime + stime) / 100.0;
}

// The sender: for every go, connects to the port given, sends the whole payload in one
// blocking loop and closes.
class Sender {
public:
    explicit Sender(const std::vector<char>& payload)
        : payload_(payload), go_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          done_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        if (!go_ || !done_) throw std::runtime_error("CreateEvent");
        thread_ = std::thread([this] { Run(); });
    }
    ~Sender() {
        stop_ = true;
        ::SetEvent(go_.get());
        thread_.join();
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    void Go(std::uint16_t port, std::size_t size) {
        port_ = port;
        size_ = size;
        ::SetEvent(go_.get());
    }
    void WaitDone() {
        if (::WaitForSingleObject(done_.get(), 60000) != WAIT_OBJECT_0) throw std::runtime_error("sender stuck");
        if (failed_) throw std::runtime_error("send failed");
    }

private:
    void Run() {
        for (;;) {
            ::WaitForSingleObject(go_.get(), INFINITE);
            if (stop_) return;
            try {
                Socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
                const sockaddr_in sa = Loopback(port_);
                if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
                    throw std::runtime_error("connect");
                const char* data = payload_.data();
                std::size_t left = size_;
                while (left > 0) {
                    const int n = ::send(s.get(), data, static_cast<int>(left), 0);
                    if (n <= 0) throw std::runtime_error("send");
                    data += n;
                    left -= static_cast<std::size_t>(n);
                }
            } catch (const std::exception&) {
                failed_ = true;
            }
            ::SetEvent(done_.get());
        }
    }

    const std::vector<char>& payload_;
    UniqueHandle go_;
    UniqueHandle done_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::atomic<std::uint16_t> port_{0};
    std::atomic<std::size_t> size_{0};
    std::thread thread_;
};

// A packet's block as the channel keeps it: address space for the whole length set aside, and
// committed as the bytes arrive, doubling (fourfold past 4 MiB).
class FreshBlock {
public:
    FreshBlock(std::size_t size, bool touch)
        : size_(size), touch_(touch), base_(static_cast<char*>(::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS))) {
        if (base_ == nullptr) throw std::runtime_error("VirtualAlloc");
    }
    ~FreshBlock() { ::VirtualFree(base_, 0, MEM_RELEASE); }
    FreshBlock(const FreshBlock&) = delete;
    FreshBlock& operator=(const FreshBlock&) = delete;
    char* data() const { return base_; }
    void Room(std::size_t have, std::size_t want) {
        if (have + want <= committed_) return;
        const std::size_t factor = have >= kMostPerTurn ? 4 : 2;
        const std::size_t grown = std::min(size_, std::max(have + want, committed_ * factor));
        if (::VirtualAlloc(base_, grown, MEM_COMMIT, PAGE_READWRITE) == nullptr) throw std::runtime_error("commit");
        if (touch_)
            for (std::size_t at = committed_; at < grown; at += 4096) static_cast<volatile char*>(base_)[at] = 0;
        committed_ = grown;
    }

private:
    std::size_t size_;
    bool touch_;
    char* base_;
    std::size_t committed_ = 0;
};

// One packet's receive on an accepted socket, in the way a variant receives.
class Receive {
public:
    Receive(const Variant& v, SOCKET s, char* buffer, FreshBlock* fresh, std::size_t size, Sample& sample)
        : v_(v), s_(s), buffer_(buffer), fresh_(fresh), size_(size), sample_(sample) {}

    bool Done() const { return have_ == size_ || failed_; }
    bool Failed() const { return failed_; }

    // Reads until the socket is empty (or, as the channel does, until a read comes back short
    // or the turn's bytes are taken). Returns the bytes read.
    std::size_t Turn() {
        std::size_t budget = std::max(kMostPerTurn, v_.readSize);
        std::size_t taken = 0;
        while (!Done()) {
            const std::size_t want = std::min({size_ - have_, NextRead(), budget});
            if (fresh_ != nullptr) {
                const auto start = Clock::now();
                fresh_->Room(have_, want);
                if (v_.touchRead) TouchPages(buffer_ + have_, want);
                sample_.inCommit += Seconds(Clock::now() - start);
            }
            const auto start = Clock::now();
            const int n = ::recv(s_, buffer_ + have_, static_cast<int>(want), 0);
            sample_.inRecv += Seconds(Clock::now() - start);
            ++sample_.recvCalls;
            if (n == SOCKET_ERROR) {
                if (::WSAGetLastError() != WSAEWOULDBLOCK) failed_ = true;
                break;
            }
            if (n == 0) {
                failed_ = true;
                break;
            }
            have_ += static_cast<std::size_t>(n);
            taken += static_cast<std::size_t>(n);
            if (v_.mode == Mode::Blocking) continue;
            if (static_cast<std::size_t>(n) >= budget) break;
            budget -= static_cast<std::size_t>(n);
            if (!v_.untilEmpty && static_cast<std::size_t>(n) < want) break;
        }
        return taken;
    }

private:
    std::size_t NextRead() const {
        if (v_.readSize != 0) return v_.readSize;
        return std::clamp(have_, kFirstRead, kMostPerTurn);
    }

    const Variant& v_;
    SOCKET s_;
    char* buffer_;
    FreshBlock* fresh_;
    std::size_t size_;
    Sample& sample_;
    std::size_t have_ = 0;
    bool failed_ = false;
};

// The hidden window that takes the socket's notices, on the receiving thread.
class NoticeWindow {
public:
    NoticeWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &NoticeWindow::Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ZumelkoReceiveBench";
        ::RegisterClassW(&wc);
        hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        if (hwnd_ == nullptr) throw std::runtime_error("CreateWindow");
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NoticeWindow() { ::DestroyWindow(hwnd_); }
    NoticeWindow(const NoticeWindow&) = delete;
    NoticeWindow& operator=(const NoticeWindow&) = delete;
    HWND get() const { return hwnd_; }

    // Runs the loop until the packet is in.
    // Runs the loop until the packet is in: waiting as the program's loop waits (then looking
    // without giving the processor away), or in GetMessageW.
    void Serve(SOCKET s, Receive& receive, Sample& sample, bool getMessage) {
        socket_ = s;
        receive_ = &receive;
        sample_ = &sample;
        MSG msg;
        while (!receive.Done()) {
            if (getMessage) {
                if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
            } else {
                if (::MsgWaitForMultipleObjectsEx(0, nullptr, 60000, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0)
                    break;
                if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) continue;
            }
            ::DispatchMessageW(&msg);
        }
        receive_ = nullptr;
        socket_ = INVALID_SOCKET;
    }

    void Drain() {
        MSG msg;
        while (::PeekMessageW(&msg, hwnd_, kSocketMessage, kSocketMessage, PM_REMOVE)) {
        }
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<NoticeWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (message != kSocketMessage || self == nullptr) return ::DefWindowProcW(hwnd, message, w, l);
        // Notices of a socket already closed are left.
        if (self->receive_ == nullptr || static_cast<SOCKET>(w) != self->socket_) return 0;
        ++self->sample_->messages;
        if (self->receive_->Turn() == 0) ++self->sample_->emptyMessages;
        return 0;
    }

    HWND hwnd_ = nullptr;
    SOCKET socket_ = INVALID_SOCKET;
    Receive* receive_ = nullptr;
    Sample* sample_ = nullptr;
};

Sample OnePacket(const Variant& v, SOCKET listener, std::uint16_t port, Sender& sender, NoticeWindow& window,
                 std::vector<char>& buffer, const std::vector<char>& payload, std::size_t size) {
    Sample sample;
    const double cpu = ProcessCpu();
    const double serverCpu = ServerCpu();
    const auto start = Clock::now();
    sender.Go(port, size);
    Socket s(::accept(listener, nullptr, nullptr));
    if (s.get() == INVALID_SOCKET) throw std::runtime_error("accept");
    std::unique_ptr<FreshBlock> fresh = v.fresh ? std::make_unique<FreshBlock>(size, v.touch) : nullptr;
    Receive receive(v, s.get(), fresh ? fresh->data() : buffer.data(), fresh.get(), size, sample);
    switch (v.mode) {
        case Mode::Blocking:
            receive.Turn();
            break;
        case Mode::Async:
            if (::WSAAsyncSelect(s.get(), window.get(), kSocketMessage, FD_READ | FD_CLOSE) != 0)
                throw std::runtime_error("WSAAsyncSelect");
            window.Serve(s.get(), receive, sample, v.getMessage);
            // No notice of this socket may reach the next packet's, which may get its handle.
            ::WSAAsyncSelect(s.get(), window.get(), 0, 0);
            window.Drain();
            break;
        case Mode::Event: {
            UniqueHandle event(::WSACreateEvent());
            if (::WSAEventSelect(s.get(), event.get(), FD_READ | FD_CLOSE) != 0) throw std::runtime_error("WSAEventSelect");
            while (!receive.Done()) {
                if (::WaitForSingleObject(event.get(), 60000) != WAIT_OBJECT_0) throw std::runtime_error("wait");
                WSANETWORKEVENTS events{};
                ::WSAEnumNetworkEvents(s.get(), event.get(), &events);
                ++sample.messages;
                if (receive.Turn() == 0) ++sample.emptyMessages;
            }
            break;
        }
    }
    sample.seconds = Seconds(Clock::now() - start);
    if (receive.Failed()) throw std::runtime_error(std::string(v.name) + ": receive failed");
    if (fresh && std::memcmp(fresh->data(), payload.data(), size) != 0) throw std::runtime_error("bytes differ");
    sender.WaitDone();
    sample.cpu = ProcessCpu() - cpu;
    sample.serverCpu = ServerCpu() - serverCpu;
    return sample;
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
    const Size sizes[] = {{1 << 20, 20, "1 MiB"}, {16 << 20, 8, "16 MiB"}};
    Winsock winsock;
    NoticeWindow window;
    std::vector<std::unique_ptr<Socket>> listeners;
    for (std::size_t i = 0; i < kVariantCount; ++i) {
        auto l = std::make_unique<Socket>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        // Accepted sockets take the listener's receive buffer.
        if (const int size = kVariants[i].receiveBuffer; size != 0)
            ::setsockopt(l->get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
        const sockaddr_in sa = Loopback(static_cast<std::uint16_t>(kFirstPort + i));
        if (::bind(l->get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(l->get(), 1) != 0)
            throw std::runtime_error("listen");
        listeners.push_back(std::move(l));
    }
    std::vector<char> payload(16 << 20);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 2654435761u >> 13);
    std::vector<char> buffer(payload.size(), 1);
    Sender sender(payload);

    for (const Size& size : sizes) {
        if (!only.empty() && std::find(only.begin(), only.end(), size.name) == only.end()) continue;
        const int n = std::max(1, static_cast<int>(size.iterations * scale));
        std::vector<std::vector<Sample>> samples(kVariantCount);
        // One packet of each variant in turn, so that the machine's load falls on them alike.
        for (int i = 0; i < n; ++i)
            for (std::size_t v = 0; v < kVariantCount; ++v)
                samples[v].push_back(OnePacket(kVariants[v], listeners[v]->get(), static_cast<std::uint16_t>(kFirstPort + v),
                                               sender, window, buffer, payload, size.bytes));
        if (std::memcmp(buffer.data(), payload.data(), size.bytes) != 0) throw std::runtime_error("bytes differ");

        auto median = [&](std::size_t v, auto field) {
            std::vector<double> values;
            for (const Sample& s : samples[v]) values.push_back(field(s));
            return Median(values);
        };
        auto mean = [&](std::size_t v, auto field) {
            double sum = 0;
            for (const Sample& s : samples[v]) sum += field(s);
            return sum / static_cast<double>(samples[v].size());
        };
        const double base = median(0, [](const Sample& s) { return s.seconds; });
        const double baseRecv = median(0, [](const Sample& s) { return s.inRecv; });
        std::printf("\n%s, %d packets per variant\n\n", size.name, n);
        std::printf("| variant | ms | speed vs blocking | recv calls | KiB per recv | messages (empty) | ms in recv | "
                    "in recv vs blocking | ms committing | CPU ms | server CPU ms |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        for (std::size_t v = 0; v < kVariantCount; ++v) {
            const double t = median(v, [](const Sample& s) { return s.seconds; });
            const double r = median(v, [](const Sample& s) { return s.inRecv; });
            const double calls = mean(v, [](const Sample& s) { return static_cast<double>(s.recvCalls); });
            const double messages = mean(v, [](const Sample& s) { return static_cast<double>(s.messages); });
            const double empty = mean(v, [](const Sample& s) { return static_cast<double>(s.emptyMessages); });
            const double commit = median(v, [](const Sample& s) { return s.inCommit; });
            const double cpu = mean(v, [](const Sample& s) { return s.cpu; });
            const double server = mean(v, [](const Sample& s) { return s.serverCpu; });
            std::printf("| %s | %.2f | %.2f | %.1f | %.0f | %.1f (%.1f) | %.2f | %.2f | %.2f | %.1f | %.1f |\n", kVariants[v].name,
                        t * 1e3, base / t, calls, static_cast<double>(size.bytes) / calls / 1024.0, messages, empty,
                        r * 1e3, baseRecv / r, commit * 1e3, cpu * 1e3, server * 1e3);
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Table(argc > 1 ? std::atof(argv[1]) : 1.0, std::vector<std::string>(argv + std::min(argc, 2), argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "receive_bench_win32: %s\n", e.what());
        return 1;
    }
}
