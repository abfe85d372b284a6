// A large received text through the whole program on the simulated desktop (real TCP, the
// sender in another process), against a plain socket receiver in the same run.
//
// BM_TextMemory: the receiving program's peak memory from the length field to the text being
// in the clipboard (the clipboard's copy included), per text byte:
//   program_bytes_per_byte  the program
//   plain_bytes_per_byte    a blocking receiver that reads the payload into one buffer
//   ratio                   program / plain
//
// BM_LoopGap: the longest time the receiving loop does not come round while the packet arrives
// and is delivered up to the receive dialog, seen by a probe message that re-posts itself:
//   program_gap_ms   the program receiving the text
//   plain_gap_ms     the same loop reading the same bytes with plain 256 KiB reads
//   ratio            program / plain
//   import_ms        the import after YES, outside the transfer (for information)
//
// text_bench runs the program on the simulated desktop (its clipboard keeps one copy of the
// text); text_qt_bench on the Linux desktop, with the real X clipboard and dialogs, on an X
// display. Run on an optimised build, by hand, under the ports lock (the program's ports
// 8000/8001 on 127.0.0.9):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench -j2 --target text_bench text_qt_bench
//   flock /tmp/zumelko-ports.lock build/bench/tests/bench/text_bench
//   flock /tmp/zumelko-ports.lock tests/qt/with-xvfb.sh build/bench/tests/bench/text_qt_bench
#include <arpa/inet.h>
#include <signal.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <type_traits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Program.h"
#include "core/MainForm.h"
#include "framework/Application.h"
#include "platform/posix/IoSource.h"
#include "platform/sim/SimDesktop.h"
#ifdef ZUMELKO_TEXT_BENCH_QT
#include <QPushButton>
#include <QTimer>

#include "dialogs/ReceiveDialog.h"
#include "platform/qt/QtDesktop.h"
#endif
#include "transport/SimpleTcp.h"
#include "tests/bench/BenchSupport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace zumelko::bench;
using zumelko::platform::sim::ScopedSimDesktop;
using zumelko::platform::sim::ScriptedDialog;

// The receiving program's own loopback address; 8000 and 8001 there.
constexpr const char* kReceiver = "127.0.0.9";
constexpr std::uint16_t kPlainPort = 28731;

sockaddr_in Address(const char* dotted, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, dotted, &sa.sin_addr);
    return sa;
}

// Connects, writes the length field and the payload, waits for the receiver's close.
void SendPacket(const char* host, std::uint16_t port, const std::string& payload) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in sa = Address(host, port);
    for (int attempt = 0; ::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0; ++attempt) {
        if (attempt > 200) throw std::runtime_error("connect");
        std::this_thread::sleep_for(10ms);
    }
    const auto length = static_cast<std::int32_t>(payload.size());
    WriteAll(s, &length, sizeof length);
    WriteAll(s, payload.data(), payload.size());
    char c = 0;
    while (::read(s, &c, 1) > 0) {
    }
    ::close(s);
}

// A header and then the text, as another instance sends them. Its code page is named UTF-8,
// so the text is taken as it comes on every desktop, as an instance's exact text is.
void SendItem(const std::string& text) {
    SendPacket(kReceiver, 8000, "string\r\nbench\r\nPC-BENCH\r\nzumelko-text cp65001\r\nbench\r\nPC-BENCH\r\n");
    SendPacket(kReceiver, 8001, text + '\0');
}

std::string MakeText(std::size_t size) {
    std::string text;
    text.reserve(size + 1);
    static const std::string line = "受信したテキスト received text 0123456789\r\n";
    while (text.size() + line.size() <= size) text += line;
    text.append(size - text.size(), 'x');
    return text;
}

template <typename Result>
Result Failed() {
    if constexpr (std::is_same_v<Result, long>) {
        return -1;
    } else {
        Result r;
        r.fill(-1);
        return r;
    }
}

// Runs body in a child process; it reports its result (a long or an array of them) back
// through a pipe, -1 when it failed.
template <typename Body>
auto InChild(Body body) {
    using Result = decltype(body());
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        Result result = Failed<Result>();
        try {
            result = body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: %s\n", e.what());
        }
        WriteAll(fds[1], &result, sizeof result);
        ::_exit(0);
    }
    ::close(fds[1]);
    Result result = Failed<Result>();
    try {
        ReadAll(fds[0], &result, sizeof result);
    } catch (...) {
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return result;
}

#ifdef ZUMELKO_TEXT_BENCH_QT
using ProgramDesktop = zumelko::platform::qt::ScopedQtDesktop;
#else
using ProgramDesktop = ScopedSimDesktop;
#endif

// The whole program on the desktop of this build (simulated, or Qt on the X display) whose user
// answers YES to the receive dialog.
struct Program {
#ifdef ZUMELKO_TEXT_BENCH_QT
    int argc = 1;
    char name[16] = "text_qt_bench";
    char* argv[2] = {name, nullptr};
    ProgramDesktop desktop{argc, argv};
#else
    ProgramDesktop desktop;
#endif
    std::unique_ptr<zumelko::Application> app;
    std::function<void()> onShown;
    bool answered = false;
    Clock::time_point shown;

    // onShown runs when the receive dialog is up, before the user answers.
    explicit Program(std::function<void()> shownHook = {}) : onShown(std::move(shownHook)) {
        in_addr a{};
        ::inet_pton(AF_INET, kReceiver, &a);
        desktop->sockets().SetLocalAddress(a.s_addr);
        app = std::make_unique<zumelko::Application>();
        app->SetTitle("Zumelko_beta3");
        zumelko::CreateForms(*app);
#ifdef ZUMELKO_TEXT_BENCH_QT
        desktop->ui().SetExceptionBoxes(false);
        desktop->ui().onShown = [this](zumelko::Form& form, QWidget& window) {
            if (&form != zumelko::Form5) return;
            if (onShown) onShown();
            shown = Clock::now();
            answered = true;
            auto* yes = dynamic_cast<QPushButton*>(desktop->ui().WidgetOf(*zumelko::Form5->Button1));
            QTimer::singleShot(0, &window, [yes] { yes->click(); });
        };
#else
        desktop->ui().Expect([this](ScriptedDialog& s) {
            if (onShown) onShown();
            shown = Clock::now();
            answered = true;
            s.Click("Button1");
        });
#endif
    }
    ~Program() {
        app->DestroyForms();
        zumelko::ForgetForms();
    }
    bool RunUntil(const std::function<bool()>& done, int ms) {
#ifdef ZUMELKO_TEXT_BENCH_QT
        return desktop->loop().RunUntilFor(done, ms);
#else
        return desktop->loop().RunUntilFor(done, std::chrono::milliseconds(ms));
#endif
    }
    // The text is in the clipboard once the handler has returned and closed the connection.
    bool Imported() const { return answered && zumelko::Form1->Packet2->IncomingConnections() == 0; }
    std::size_t ClipboardSize() {
        auto& cb = desktop->clipboard();
        cb.OpenClipboard(0);
        const auto text = cb.GetText();
        cb.CloseClipboard();
        return text ? text->find('\0') == std::string::npos ? text->size() : text->find('\0') : 0;
    }
};

// ---------------------------------------------------------------------------------------------
// Memory

// The peak memory a receiver gains, measured in a child process of its own, while another
// process sends: the sender waits until the receiver has taken its baseline and calls start.
template <typename Send, typename Receive>
long ReceiverPeak(Send send, Receive receive) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    std::fflush(nullptr);
    const pid_t sender = ::fork();
    if (sender == 0) {
        ::close(ready[1]);
        char c = 0;
        ReadAll(ready[0], &c, 1);
        try {
            send();
        } catch (...) {
        }
        ::_exit(0);
    }
    ::close(ready[0]);
    const long gained = InChild([&]() -> long {
        return receive([&] {
            const char c = 1;
            WriteAll(ready[1], &c, 1);
        });
    });
    ::close(ready[1]);
    int status = 0;
    ::waitpid(sender, &status, 0);
    return gained;
}

long ProgramPeak(const std::string& text) {
    const std::size_t size = text.size();
    return ReceiverPeak([&] { SendItem(text); },
                        [&](auto start) -> long {
                            Program program;
                            const long base = ResetPeak();
                            start();
                            if (!program.RunUntil([&] { return program.Imported(); }, 600000))
                                throw std::runtime_error("the text was not imported");
                            const long peak = StatusBytes("VmHWM") - base;
                            if (program.ClipboardSize() != size)
                                throw std::runtime_error("the clipboard holds another text");
                            return peak;
                        });
}

long PlainPeak(const std::string& text) {
    return ReceiverPeak([&] { SendPacket("127.0.0.1", kPlainPort, text + '\0'); },
                        [&](auto start) -> long {
                            const int l = ::socket(AF_INET, SOCK_STREAM, 0);
                            const int on = 1;
                            ::setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
                            const sockaddr_in sa = Address("127.0.0.1", kPlainPort);
                            if (::bind(l, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
                                ::listen(l, 1) != 0)
                                throw std::runtime_error("plain listen");
                            const long base = ResetPeak();
                            start();
                            const int conn = ::accept(l, nullptr, nullptr);
                            std::int32_t length = 0;
                            ReadAll(conn, &length, sizeof length);
                            std::vector<char> buffer(static_cast<std::size_t>(length));
                            ReadAll(conn, buffer.data(), buffer.size());
                            benchmark::DoNotOptimize(buffer.data());
                            const long peak = StatusBytes("VmHWM") - base;
                            ::close(conn);
                            ::close(l);
                            return peak;
                        });
}

void BM_TextMemory(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::string text = MakeText(size);
    long program = 0;
    long plain = 0;
    for (auto _ : state) {
        plain = std::max(plain, PlainPeak(text));
        program = std::max(program, ProgramPeak(text));
        if (program <= 0 || plain <= 0) {
            state.SkipWithError("a receiver failed");
            return;
        }
    }
    const double bytes = static_cast<double>(size);
    state.counters["program_bytes_per_byte"] = static_cast<double>(program) / bytes;
    state.counters["plain_bytes_per_byte"] = static_cast<double>(plain) / bytes;
    state.counters["ratio"] = static_cast<double>(program) / static_cast<double>(plain);
}

BENCHMARK(BM_TextMemory)->Arg(16 << 20)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextMemory)->Arg(256 << 20)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Loop gaps

// A message that re-posts itself: the time between two of its turns is the longest the loop
// was away doing something else.
class Probe {
public:
    explicit Probe(zumelko::platform::Loop& loop) : loop_(loop) {
        window_ = loop_.CreateHiddenWindow([this](std::uint32_t, zumelko::platform::WParam, zumelko::platform::LParam) {
            const auto now = Clock::now();
            if (running_) worst_ = std::max(worst_, now - last_);
            last_ = now;
            loop_.PostMessage(window_, 0x8001, 0, 0);
            return zumelko::platform::LResult{0};
        });
    }
    ~Probe() { loop_.DestroyWindow(window_); }
    void Start() {
        last_ = Clock::now();
        running_ = true;
        loop_.PostMessage(window_, 0x8001, 0, 0);
    }
    // Counts the stretch up to now and stops counting.
    void Stop() {
        if (!running_) return;
        worst_ = std::max(worst_, Clock::now() - last_);
        running_ = false;
    }
    double WorstMs() const { return std::chrono::duration<double, std::milli>(worst_).count(); }

private:
    zumelko::platform::Loop& loop_;
    zumelko::platform::Hwnd window_ = 0;
    bool running_ = false;
    Clock::time_point last_;
    Clock::duration worst_{};
};

// Reads a connection on the loop with plain reads of at most 256 KiB, into one buffer of the
// announced size.
class PlainReader final : public zumelko::platform::IoSource {
public:
    explicit PlainReader(int listener) : listener_(listener) {}
    ~PlainReader() override {
        if (conn_ >= 0) ::close(conn_);
    }
    void Collect(std::vector<pollfd>& fds) const override {
        fds.push_back({conn_ >= 0 ? conn_ : listener_, POLLIN, 0});
    }
    void Dispatch(const pollfd& ready) override {
        if (conn_ < 0) {
            conn_ = ::accept(ready.fd, nullptr, nullptr);
            if (conn_ >= 0) ::fcntl(conn_, F_SETFL, ::fcntl(conn_, F_GETFL) | O_NONBLOCK);
            return;
        }
        if (lengthGot_ < 4) {
            const ssize_t n = ::read(conn_, length_ + lengthGot_, 4 - lengthGot_);
            if (n > 0) lengthGot_ += static_cast<std::size_t>(n);
            if (lengthGot_ == 4) {
                std::int32_t length = 0;
                std::memcpy(&length, length_, 4);
                size_ = static_cast<std::size_t>(length);
                data_ = std::make_unique_for_overwrite<char[]>(size_);
            }
            return;
        }
        const ssize_t n = ::read(conn_, data_.get() + got_, std::min(kRead, size_ - got_));
        if (n > 0) got_ += static_cast<std::size_t>(n);
        benchmark::DoNotOptimize(data_.get());
    }
    bool Done() const { return lengthGot_ == 4 && got_ == size_; }

private:
    static constexpr std::size_t kRead = 256 * 1024;
    int listener_;
    int conn_ = -1;
    char length_[4] = {};
    std::size_t lengthGot_ = 0;
    std::size_t size_ = 0;
    std::size_t got_ = 0;
    std::unique_ptr<char[]> data_;
};

// Sends in a child process once the receiver here listens; returns the child's id.
template <typename Send>
pid_t SenderChild(Send send) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            send();
        } catch (...) {
        }
        ::_exit(0);
    }
    return pid;
}

// Runs in a child process, so that every run has a desktop of its own; returns the worst gap
// and the import's time, in microseconds.
std::array<long, 2> ProgramGap(const std::string& text) {
    return InChild([&]() -> std::array<long, 2> {
        // The import after YES is outside the transfer: the probe stops when the dialog shows.
        std::unique_ptr<Probe> probe;
        Program program([&] { probe->Stop(); });
        probe = std::make_unique<Probe>(program.desktop->loop());
        const pid_t sender = SenderChild([&] { SendItem(text); });
        probe->Start();
        const bool ok = program.RunUntil([&] { return program.Imported(); }, 600000);
        const auto import = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - program.shown);
        int status = 0;
        ::waitpid(sender, &status, 0);
        const double worst = probe->WorstMs();
        probe.reset();  // its window belongs to the program's loop
        if (!ok || program.ClipboardSize() != text.size()) throw std::runtime_error("the text was not imported");
        return {static_cast<long>(worst * 1000), static_cast<long>(import.count())};
    });
}

double PlainGapHere(const std::string& text) {
    ScopedSimDesktop desktop;
    auto& loop = desktop->loop();
    const int l = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in sa = Address("127.0.0.1", kPlainPort);
    if (::bind(l, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(l, 1) != 0)
        throw std::runtime_error("plain listen");
    PlainReader reader(l);
    loop.AddIoSource(reader);
    Probe probe(loop);
    const pid_t sender = SenderChild([&] { SendPacket("127.0.0.1", kPlainPort, text + '\0'); });
    probe.Start();
    const bool ok = loop.RunUntilFor([&] { return reader.Done(); }, 600s);
    probe.Stop();
    loop.RemoveIoSource(reader);
    ::close(l);
    ::kill(sender, SIGTERM);
    int status = 0;
    ::waitpid(sender, &status, 0);
    if (!ok) throw std::runtime_error("plain reader did not finish");
    return probe.WorstMs();
}

// In a child process too, as the program's runs are.
double PlainGap(const std::string& text) {
    const long us = InChild([&]() -> long { return static_cast<long>(PlainGapHere(text) * 1000); });
    if (us < 0) throw std::runtime_error("the plain reader failed");
    return static_cast<double>(us) / 1000;
}

void BM_LoopGap(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::string text = MakeText(size);
    double program = 0;
    double plain = 0;
    double import = 0;
    for (auto _ : state) {
        try {
            plain = std::max(plain, PlainGap(text));
            const auto [gapUs, importUs] = ProgramGap(text);
            if (gapUs < 0) throw std::runtime_error("the program's run failed");
            program = std::max(program, static_cast<double>(gapUs) / 1000);
            import = std::max(import, static_cast<double>(importUs) / 1000);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
    }
    state.counters["program_gap_ms"] = program;
    state.counters["plain_gap_ms"] = plain;
    state.counters["ratio"] = program / plain;
    state.counters["import_ms"] = import;
}

BENCHMARK(BM_LoopGap)->Arg(16 << 20)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopGap)->Arg(256 << 20)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
