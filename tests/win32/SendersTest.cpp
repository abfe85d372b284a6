// Who may send, in the Windows program: the setting chosen in the real settings dialog, and
// packets over real TCP from addresses of their own, dropped or offered as it says.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/Program.h"
#include "core/MainForm.h"
#include "desktop/DdeClientConv.h"
#include "dialogs/CustomDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "framework/Application.h"
#include "platform/win32/Win32Api.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

using platform::Hwnd;
using platform::win32::AsHandle;

TEST(Senders, TheSettingFromTheDialogDropsStrangersAndOffersTheRest) {
    Application& app = App();
    DdeInstance dde;
    CreateForms(app);
    int offered = 0;
    Desk().ui().onShown = [&](Form& form, Hwnd window) {
        if (auto* settings = dynamic_cast<TForm4*>(&form)) {
            // The user picks the second choice: its details button comes alive.
            HWND details = AsHandle<HWND>(Desk().ui().WindowOfControl(*settings->Button4));
            EXPECT_FALSE(::IsWindowEnabled(details));
            ::SendMessageW(AsHandle<HWND>(Desk().ui().RadioButtonOf(*settings->RadioGroup3, 1)), BM_CLICK, 0, 0);
            Pump(50);
            EXPECT_TRUE(::IsWindowEnabled(details));
            settings->AllowedNames = "127.0.0.5";  // what the details dialog would hand back
            ::PostMessageW(AsHandle<HWND>(Desk().ui().WindowOfControl(*settings->OKBtn)), BM_CLICK, 0, 0);
        } else if (auto* receive = dynamic_cast<TForm5*>(&form)) {
            ++offered;
            ::PostMessageW(AsHandle<HWND>(Desk().ui().WindowOfControl(*receive->Button2)), BM_CLICK, 0, 0);
        } else {
            ADD_FAILURE() << "unexpected dialog";
            ::PostMessageW(AsHandle<HWND>(window), WM_CLOSE, 0, 0);
        }
    };

    struct Case {
        const char* source;
        bool restricted;
        bool offered;
    };
    const Case cases[] = {{"127.0.0.9", false, true}, {"127.0.0.5", true, true}, {"127.0.0.9", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + (c.restricted ? " restricted" : " open"));
        if (c.restricted && Form1->SenderMode != KnownSenders) {
            Form1->Customize1Click(nullptr);
            ASSERT_EQ(Form1->SenderMode, KnownSenders);
        }
        offered = 0;
        ::testing::internal::CaptureStderr();
        std::atomic<bool> done{false};
        Ending ending = Ending::None;
        std::thread peer([&] {
            ending = SendPacketFrom(c.source, 8000, "string\r\nu\r\nM\r\n");
            if (ending == Ending::Closed) ending = SendPacketFrom(c.source, 8001, std::string("hello", 6));
            done = true;
        });
        EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
        peer.join();
        Pump(100);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(ending, c.offered ? Ending::Closed : Ending::Reset) << "a refused sender is reset";
        EXPECT_EQ(offered, c.offered ? 1 : 0) << log;
        EXPECT_EQ(log.find(std::string("from ") + c.source) != std::string::npos, !c.offered) << log;
    }
    Desk().ui().onShown = nullptr;
    app.DestroyForms();
    ForgetForms();
}

}  // namespace
}  // namespace zumelko::wintest
