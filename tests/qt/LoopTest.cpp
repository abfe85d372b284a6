// The Qt loop beyond what every desktop's contract checks: an exception from a window procedure
// reaches the application's error box.

#include <gtest/gtest.h>


#include <vector>

#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

using namespace zumelko::platform;

struct Recorder {
    std::vector<std::pair<std::uint32_t, LParam>> got;
    Hwnd window = 0;
    Recorder() {
        window = Desk().loop().CreateHiddenWindow([this](std::uint32_t m, WParam, LParam l) {
            got.emplace_back(m, l);
            return LResult{0};
        });
    }
    ~Recorder() { Desk().loop().DestroyWindow(window); }
};

TEST(Loop, PostedMessagesArriveInOrderAndDestroyedWindowsGetNothing) {
    auto& loop = Desk().loop();
    Recorder a, b;
    for (int i = 0; i < 5; ++i) loop.PostMessage(a.window, WM_USER_ + 1, 0, i);
    loop.PostMessage(b.window, WM_USER_ + 2, 0, 0);
    loop.DestroyWindow(b.window);
    EXPECT_FALSE(loop.PostMessage(b.window, WM_USER_, 0, 0));
    EXPECT_TRUE(PumpUntil([&] { return a.got.size() == 5; }, 2000));
    Pump(50);
    ASSERT_EQ(a.got.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a.got[static_cast<std::size_t>(i)].second, i);
    EXPECT_TRUE(b.got.empty());
    // An exception thrown by a window procedure is reported, and the loop carries on.
    const Hwnd thrower = loop.CreateHiddenWindow([](std::uint32_t, WParam, LParam) -> LResult {
        throw std::runtime_error("from a window procedure");
    });
    const auto before = Desk().ui().Exceptions().size();
    loop.PostMessage(thrower, WM_USER_, 0, 0);
    loop.PostMessage(a.window, WM_USER_ + 3, 0, 99);
    EXPECT_TRUE(PumpUntil([&] { return a.got.size() == 6; }, 2000));
    EXPECT_EQ(Desk().ui().Exceptions().size(), before + 1);
    loop.DestroyWindow(thrower);
}

}  // namespace
}  // namespace zumelko::qttest
