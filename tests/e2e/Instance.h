#pragma once
// One whole program on its own simulated desktop, in a process of its own, played through its
// console: one command line in, one reply line out.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace zumelko::testing {

class Instance {
public:
    Instance(const std::string& name, const std::vector<std::string>& args);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Sends a command and returns its reply, without the leading "ok " (throws on "err").
    std::string Do(const std::string& command);
    std::vector<std::string> Words(const std::string& command);
    // Repeats a query until the reply satisfies done, or the time is up.
    bool WaitFor(const std::string& query, const std::function<bool(const std::string&)>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));
    bool WaitOpen(const std::string& form, std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::vector<std::string> Notices();
    std::vector<std::string> OpenForms() { return Words("open"); }
    std::string Clipboard() { return Do("clipboard"); }

    void Click(const std::string& form, const std::string& control) { Do("click " + form + " " + control); }
    std::string Caption(const std::string& form, const std::string& control);
    // Sets the checker mode, the receive state and the default destination through the tray's
    // settings dialog, as a user does.
    void Configure(int checker, int receive, const std::string& destination, int browser = 0);

private:
    std::string name_;
    pid_t pid_ = -1;
    int in_ = -1;   // to the program
    int out_ = -1;  // from the program
    std::string pending_;
};

std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);

}  // namespace zumelko::testing
