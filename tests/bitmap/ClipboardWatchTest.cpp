// The clipboard viewer chain and the clipboard's text and nesting, as the forwarder sees them.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "desktop/ClipboardAccess.h"
#include "desktop/ClipboardViewer.h"
#include "framework/Application.h"
#include "Support.h"

namespace zumelko::test {
namespace {

using platform::Hwnd;
using platform::LParam;
using platform::LResult;
using platform::WParam;

// Another program's viewer that keeps to the rules of the chain, noting what it hears.
class OtherViewer {
public:
    OtherViewer(platform::sim::SimDesktop& desk, std::string name, std::vector<std::string>& log)
        : desk_(desk), name_(std::move(name)), log_(log) {
        hwnd_ = desk_.loop().CreateHiddenWindow([this](std::uint32_t m, WParam w, LParam l) -> LResult {
            if (m == platform::WM_DRAWCLIPBOARD_) {
                log_.push_back(name_);
                desk_.loop().SendMessage(next_, m, w, l);
            } else if (m == platform::WM_CHANGECBCHAIN_) {
                if (w == next_)
                    next_ = static_cast<Hwnd>(l);
                else
                    desk_.loop().SendMessage(next_, m, w, l);
            }
            return 0;
        });
        next_ = desk_.clipboard().SetClipboardViewer(hwnd_);
    }
    ~OtherViewer() { desk_.loop().DestroyWindow(hwnd_); }
    void Leave() { desk_.clipboard().ChangeClipboardChain(hwnd_, next_); }
    Hwnd hwnd() const { return hwnd_; }

private:
    platform::sim::SimDesktop& desk_;
    std::string name_;
    std::vector<std::string>& log_;
    Hwnd hwnd_ = 0;
    Hwnd next_ = 0;
};

class ClipboardWatch : public DesktopTest {
protected:
    // Another program puts text on the clipboard (one open period), with its NUL.
    void OtherProgramSetsText(std::string_view text) {
        std::string block(text);
        block.push_back('\0');
        ASSERT_TRUE(clipboard().OpenClipboard(0x77));
        clipboard().EmptyClipboard();
        clipboard().SetText(block);
        clipboard().CloseClipboard();
    }
    TClipboardViewer& Watch() {
        auto& viewer = root_.Create<TClipboardViewer>();
        viewer.OnChangeData = [this](Component* sender) {
            EXPECT_EQ(sender, &root_.ComponentAt(0));
            log_.push_back("watcher");
        };
        return viewer;
    }
    Component root_{nullptr};
    std::vector<std::string> log_;
};

TEST_F(ClipboardWatch, WhatTheClipboardHoldsAtStartUpIsNeverReported) {
    OtherProgramSetsText("before");
    auto& viewer = root_.Create<TClipboardViewer>();
    int changes = 0;
    viewer.OnChangeData = [&](Component*) { ++changes; };
    EXPECT_EQ(clipboard().Viewer(), viewer.Handle());
    EXPECT_EQ(viewer.NextViewer(), 0u);
    EXPECT_EQ(changes, 0);
    OtherProgramSetsText("after");
    EXPECT_EQ(changes, 1);  // the last of the chain still hears of every change
}

TEST_F(ClipboardWatch, EachChangeFiresOnceAfterTheRestOfTheChainHeardOfIt) {
    OtherViewer other(desk(), "other", log_);
    TClipboardViewer& viewer = Watch();
    EXPECT_EQ(viewer.NextViewer(), other.hwnd());
    log_.clear();

    OtherProgramSetsText("one");
    EXPECT_EQ(log_, (std::vector<std::string>{"other", "watcher"}));
    ClipboardAccess clip;
    EXPECT_EQ(clip.GetText(), "one");  // reading changes nothing
    clip.Open();
    clip.Close();
    EXPECT_EQ(log_.size(), 2u);

    viewer.OnChangeData.Clear();  // unattached: passed on, nothing fired
    OtherProgramSetsText("two");
    EXPECT_EQ(log_, (std::vector<std::string>{"other", "watcher", "other"}));
}

TEST_F(ClipboardWatch, WatcherLinksPastViewersThatLeaveTheChain) {
    OtherViewer third(desk(), "third", log_);
    OtherViewer second(desk(), "second", log_);
    OtherViewer first(desk(), "first", log_);
    TClipboardViewer& viewer = Watch();
    log_.clear();

    second.Leave();  // further down: the watcher keeps its next, the first links past it
    EXPECT_EQ(viewer.NextViewer(), first.hwnd());
    OtherProgramSetsText("a");
    EXPECT_EQ(log_, (std::vector<std::string>{"first", "third", "watcher"}));

    log_.clear();
    first.Leave();  // the next: the watcher links to its successor
    EXPECT_EQ(viewer.NextViewer(), third.hwnd());
    OtherProgramSetsText("b");
    EXPECT_EQ(log_, (std::vector<std::string>{"third", "watcher"}));

    log_.clear();
    const Hwnd handle = viewer.Handle();
    root_.DestroyComponent(viewer);  // leaves the chain with its window
    EXPECT_FALSE(desk().loop().IsWindow(handle));
    EXPECT_EQ(clipboard().Viewer(), third.hwnd());
    OtherProgramSetsText("c");
    EXPECT_EQ(log_, (std::vector<std::string>{"third"}));
}

// A failing handler is shown in the standard error box and the watcher goes on watching, with
// or without an application object.
TEST_F(ClipboardWatch, ExceptionFromTheHandlerIsShownAndWatchingGoesOn) {
    OtherViewer other(desk(), "other", log_);
    TClipboardViewer& viewer = Watch();
    int calls = 0;
    viewer.OnChangeData = [&](Component*) {
        ++calls;
        throw Error("ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です");
    };
    log_.clear();
    OtherProgramSetsText("x");
    {
        Application app;
        app.SetTitle("Zumelko_beta3");
        OtherProgramSetsText("y");
    }
    viewer.OnChangeData = [&](Component*) {
        ++calls;
        throw std::runtime_error("out of order");
    };
    OtherProgramSetsText("z");
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(desk().ui().Exceptions(),
              (std::vector<std::string>{"ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です", "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です", "out of order"}));
    EXPECT_EQ(log_, (std::vector<std::string>{"other", "other", "other"}));  // the chain was told first
}

// Taking received data into the clipboard (Clear; Open; write; Close) closes it twice after a
// change: the watcher reports exactly two changes, and the clipboard holds only the new data.
TEST_F(ClipboardWatch, TakingDataIntoTheClipboardIsReportedAsExactlyTwoChanges) {
    TClipboardViewer& viewer = Watch();
    ClipboardAccess clip;
    OtherProgramPuts(2, 1, {0x00FF00, 0xFF00FF});
    OtherProgramSetsText("old");
    log_.clear();

    clip.Clear();
    clip.Open();
    clip.SetText("new");
    clip.Close();
    EXPECT_EQ(log_.size(), 2u);
    EXPECT_EQ(clipboard().TextBlock(), std::string("new", 4));
    EXPECT_FALSE(clip.HasFormat(platform::CF_BITMAP_));

    BitmapImage picture;
    Read(picture, MakeBmp(24, 2, {{0x123456, 0x654321}}));
    log_.clear();
    clip.Clear();
    clip.Open();
    clip.PutBitmap(picture);
    clip.Close();
    EXPECT_EQ(log_.size(), 2u);
    EXPECT_FALSE(clip.HasFormat(platform::CF_TEXT_));
    EXPECT_EQ(ClipboardPixels(), (Pixels{0x123456, 0x654321}));

    // Writes in one open period empty the clipboard once and stand side by side.
    log_.clear();
    clip.Open();
    clip.SetText("both");
    clip.PutBitmap(picture);
    clip.Close();
    EXPECT_EQ(log_.size(), 1u);
    EXPECT_TRUE(clip.HasFormat(platform::CF_TEXT_));
    EXPECT_TRUE(clip.HasFormat(platform::CF_BITMAP_));
    EXPECT_EQ(clip.GetText(), "both");
    EXPECT_EQ(viewer.NextViewer(), 0u);
    EXPECT_EQ(clipboard().ChangeNotifications(), 2u + 2u + 2u + 1u);  // with the other program's two
}

TEST_F(ClipboardWatch, TextIsCutAtItsFirstNulAndWrittenWithOne) {
    ClipboardAccess clip;
    OtherProgramSetsText(std::string_view("ab\0cd", 5));
    EXPECT_EQ(clip.GetText(), "ab");

    clip.SetText("");
    EXPECT_EQ(clipboard().TextBlock(), std::string(1, '\0'));
    EXPECT_EQ(clip.GetText(), "");

    const std::string shiftJis = "\x83\x65\x83\x4C\x83\x58\x83\x67 text";  // bytes passed as they are
    clip.SetText(shiftJis);
    EXPECT_EQ(clipboard().TextBlock(), shiftJis + '\0');
    EXPECT_EQ(clip.GetText(), shiftJis);
}

TEST_F(ClipboardWatch, NestedOpensHoldTheClipboardUntilTheLastClose) {
    ClipboardAccess clip;
    clip.Close();  // without an Open: nothing
    EXPECT_EQ(clip.OpenCount(), 0);

    clip.Open();
    clip.Open();
    const Hwnd owner = clip.OwnerWindow();
    EXPECT_EQ(owner, desk().shell().ApplicationWindow());  // the application window owns it
    EXPECT_EQ(clipboard().OpenedBy(), owner);
    clip.Close();
    EXPECT_TRUE(clipboard().IsOpen());
    clip.SetText("nested");  // its own Open/Close leave the outer period open
    EXPECT_EQ(clip.OpenCount(), 1);
    EXPECT_TRUE(clipboard().IsOpen());
    clip.Close();
    EXPECT_FALSE(clipboard().IsOpen());
    EXPECT_TRUE(desk().loop().IsWindow(owner));  // not the clipboard's to destroy
    EXPECT_EQ(clip.OwnerWindow(), 0u);

    // A Close too many does not close the clipboard another program holds.
    ASSERT_TRUE(clipboard().OpenClipboard(0x77));
    clip.Close();
    EXPECT_EQ(clipboard().OpenedBy(), 0x77u);
    clipboard().CloseClipboard();

    // An object that goes while the clipboard is open lets it go.
    {
        ClipboardAccess forgetful;
        forgetful.Open();
        forgetful.Open();
    }
    EXPECT_FALSE(clipboard().IsOpen());
}

// While another program holds the clipboard nothing can be read or written, and nothing fails
// loudly but the picture that is not there.
TEST_F(ClipboardWatch, ClipboardHeldByAnotherProgramGivesNothingAndTakesNothing) {
    ClipboardAccess clip;
    OtherProgramSetsText("theirs");
    clipboard().HoldByAnotherProgram(true);
    EXPECT_TRUE(clip.HasFormat(platform::CF_TEXT_));
    EXPECT_EQ(clip.GetText(), "");
    clip.SetText("ours");
    BitmapImage picture;
    Read(picture, MakeBmp(24, 1, {{5}}));
    clip.PutBitmap(picture);
    EXPECT_EQ(clip.OpenCount(), 0);
    clipboard().HoldByAnotherProgram(false);
    EXPECT_EQ(clip.GetText(), "theirs");
    EXPECT_FALSE(clip.HasFormat(platform::CF_BITMAP_));
    picture.Assign(nullptr);
    EXPECT_EQ(StrayObjects(), 0u);  // the refused copies were not lost
}

}  // namespace
}  // namespace zumelko::test
