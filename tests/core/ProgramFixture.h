#pragma once
// The whole program on a simulated desktop at 127.0.0.2, with a raw peer at 127.0.0.3 (known to
// the program as "PEER") and a workgroup of machines.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Program.h"
#include "core/MainForm.h"
#include "framework/Application.h"
#include "platform/sim/SimDesktop.h"
#include "tests/support/RawPeer.h"

namespace zumelko::testing {

inline constexpr const char* kHere = "127.0.0.2";
inline constexpr const char* kPeer = "127.0.0.3";

inline std::uint32_t Inet(const char* dotted) {
    in_addr a{};
    ::inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

// A BMP file image of a 24-bit picture, written by hand (rows bottom-up, padded to 4 bytes).
std::string HandMadeBmp24(int width, int height, std::uint8_t seed);

class ProgramTest : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& machines = {"PC-A", "PC-B", "PC-C"});
    void TearDown() override;

    platform::sim::SimDesktop& desk() { return *desktop_; }
    platform::sim::SimUiHost& user() { return desktop_->ui(); }
    bool RunUntil(const std::function<bool()>& done, int ms = 5000) {
        return desktop_->loop().RunUntilFor(done, std::chrono::milliseconds(ms));
    }
    void RunFor(int ms) { desktop_->loop().RunFor(std::chrono::milliseconds(ms)); }

    // Another program changes the clipboard (one change notification, which the program's loop
    // then takes).
    void CopyText(const std::string& text);
    void CopyBmp(const std::string& bmp);
    void CopyNothing();
    void TakeNotice();
    std::optional<std::string> ClipboardText();
    bool ClipboardHasBitmap();

    // Texts of every notice shown so far, in order.
    std::vector<std::string> Notices();
    std::size_t CountShown(const std::string& formName);

    // A raw peer sends a header and then the data to the program, each as its own connection,
    // from a thread of its own; the future says whether both were closed by the program (within
    // dataTimeoutMs for the data).
    std::future<bool> SendItem(const std::string& type, const std::string& user, const std::string& machine,
                               const std::string& data, int dataTimeoutMs = 60000);
    template <typename T>
    bool Finished(std::future<T>& f) {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    platform::sim::ScopedSimDesktop desktop_;
    std::unique_ptr<Application> app_;
    platform::Hwnd other_ = 0;
};

}  // namespace zumelko::testing
