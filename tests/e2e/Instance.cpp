#include "tests/e2e/Instance.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zumelko::testing {

std::string Hex(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

Instance::Instance(const std::string& name, const std::vector<std::string>& args) : name_(name) {
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    std::vector<std::string> all{ZUMELKO_SIM_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, ZUMELKO_SIM_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    if (rc != 0) throw std::runtime_error("cannot start the program");
    Do("help");  // answers once the program is up
}

Instance::~Instance() {
    if (in_ >= 0) ::close(in_);  // the program quits when its console ends
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) ::close(out_);
}

std::string Instance::Do(const std::string& command) {
    const std::string line = command + "\n";
    if (::write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        throw std::runtime_error(name_ + ": console closed");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::size_t nl;
    while ((nl = pending_.find('\n')) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{out_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            throw std::runtime_error(name_ + ": no reply to " + command);
        char buf[65536];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) throw std::runtime_error(name_ + ": program ended during " + command);
        pending_.append(buf, static_cast<std::size_t>(n));
    }
    std::string reply = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    if (reply.rfind("ok", 0) != 0) throw std::runtime_error(name_ + ": " + command + " -> " + reply);
    return reply.size() > 3 ? reply.substr(3) : std::string();
}

std::vector<std::string> Instance::Words(const std::string& command) {
    std::istringstream in(Do(command));
    std::vector<std::string> out;
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

bool Instance::WaitFor(const std::string& query, const std::function<bool(const std::string&)>& done,
                       std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (done(Do(query))) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool Instance::WaitOpen(const std::string& form, std::chrono::milliseconds limit) {
    return WaitFor("open", [&](const std::string& r) {
        std::istringstream in(r);
        std::string w, last;
        while (in >> w) last = w;
        return last == form;
    }, limit);
}

std::vector<std::string> Instance::Notices() {
    std::vector<std::string> out;
    for (const auto& h : Words("notices")) out.push_back(Unhex(h));
    return out;
}

std::string Instance::Caption(const std::string& form, const std::string& control) {
    return Unhex(Do("caption " + form + " " + control));
}

void Instance::Configure(int checker, int receive, const std::string& destination, int browser) {
    Do("tray right 1");  // 設定(&C)
    if (!WaitOpen("Form4")) throw std::runtime_error(name_ + ": no settings dialog");
    Do("select Form4 RadioGroup1 1");
    Do("open");
    Click("Form4", "Button1");  // the default destination's "詳細"
    if (!WaitOpen("Form8")) throw std::runtime_error(name_ + ": no chooser");
    Do("type Form8 ComboBox1 " + Hex(destination));
    Click("Form8", "Button1");
    if (!WaitOpen("Form4")) throw std::runtime_error(name_ + ": chooser did not close");
    Do("select Form4 RadioGroup2 1");
    Do("open");
    Click("Form4", "Button3");  // the browser's "詳細"
    if (!WaitOpen("Form7")) throw std::runtime_error(name_ + ": no browser choice");
    Do("select Form7 RadioGroup1 " + std::to_string(browser));
    Do("open");
    Click("Form7", "Button1");
    if (!WaitOpen("Form4")) throw std::runtime_error(name_ + ": browser choice did not close");
    Do("select Form4 RadioGroup1 " + std::to_string(checker));
    Do("select Form4 RadioGroup2 " + std::to_string(receive));
    Do("open");
    Click("Form4", "OKBtn");
    if (!WaitFor("open", [](const std::string& r) { return r.empty(); })) throw std::runtime_error(name_ + ": settings stuck");
}

}  // namespace zumelko::testing
