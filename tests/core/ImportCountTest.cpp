// An import that does not get both of its clipboard transactions through leaves SkipCount at
// what is really still to come, so the user's next copy is forwarded as usual.
#include "desktop/BitmapImage.h"
#include "platform/Dib.h"
#include "tests/core/ProgramFixture.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;

TEST_F(ProgramTest, AnImportThatChangesLessThanItMeantSwallowsNoLaterCopy) {
    struct Case {
        const char* what;
        std::string type;
        std::string data;
        std::function<void(platform::sim::SimDesktop&, bool)> trouble;  // on (true) / off (false)
        std::vector<std::string> exceptions;
    };
    const std::vector<Case> cases = {
        {"another program holds the clipboard", "string", std::string("taken\0", 6),
         [](platform::sim::SimDesktop& d, bool on) { d.clipboard().HoldByAnotherProgram(on); }, {}},
        {"the display runs short for the picture", "bitmap", HandMadeBmp24(5, 4, 7),
         [](platform::sim::SimDesktop& d, bool on) {
             d.gdi().SetBitmapPixelLimit(on ? 1 : platform::dib::kMaxPixels);
         },
         {kOutOfResources}},
    };
    Start();
    Form1->CheckerMode = AskDestination;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        user().ClearShown();
        const auto exceptionsBefore = user().Exceptions().size();
        user().Expect([&](ScriptedDialog& s) {
            c.trouble(desk(), true);
            s.Click("Button1");  // YES
        });
        auto item = SendItem(c.type, "a", "M", c.data, 5000);
        ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));
        EXPECT_TRUE(item.get());
        c.trouble(desk(), false);
        RunFor(50);
        EXPECT_EQ(std::vector<std::string>(user().Exceptions().begin() + static_cast<long>(exceptionsBefore),
                                           user().Exceptions().end()),
                  c.exceptions);
        EXPECT_EQ(Form1->SkipCount, 0);
        EXPECT_EQ(CountShown("Form8"), 0u) << "nothing asked about the import itself";

        CopyText("next");  // the chooser is closed again at once
        RunFor(50);
        EXPECT_EQ(CountShown("Form8"), 1u);
    }
}

}  // namespace
}  // namespace zumelko::testing
