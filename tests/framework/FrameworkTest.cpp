#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/Form.h"
#include "framework/Menus.h"
#include "platform/sim/SimDesktop.h"

namespace zumelko {
namespace {

using platform::sim::ScriptedDialog;
using platform::sim::ScopedSimDesktop;

std::vector<std::string>* g_log = nullptr;

class Logged final : public Component {
public:
    Logged(Component* owner, std::string tag) : Component(owner), tag_(std::move(tag)) {}
    ~Logged() override { g_log->push_back(tag_); }

private:
    std::string tag_;
};

TEST(Components, OwnerDestroysItsComponentsLastCreatedFirstAndDestroyComponentFreesOne) {
    std::vector<std::string> log;
    g_log = &log;
    {
        Component root(nullptr);
        root.Create<Logged>("a");
        auto& b = root.Create<Logged>("b");
        root.Create<Logged>("c");
        root.DestroyComponent(b);
        EXPECT_EQ(log, std::vector<std::string>{"b"});
        Component stranger(nullptr);
        root.DestroyComponent(stranger);  // not owned: nothing happens
        EXPECT_EQ(root.ComponentCount(), 2u);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"b", "c", "a"}));
    g_log = nullptr;
}

TEST(Events, UnattachedEventsDoNothingAndBoundMembersReceiveTheirArguments) {
    Event<int> unattached;
    EXPECT_FALSE(unattached);
    unattached(3);

    struct Sink {
        int got = 0;
        void Take(int v) { got += v; }
    } sink;
    Event<int> e(&sink, &Sink::Take);
    EXPECT_TRUE(e);
    e(4);
    e(5);
    EXPECT_EQ(sink.got, 9);
    e.Clear();
    e(100);
    EXPECT_EQ(sink.got, 9);
}

class TestForm final : public Form {
public:
    explicit TestForm(Component* owner) : Form(owner) {
        SetName("TestForm");
        Ok = &AddControl<Button>("Ok");
        Ok->SetModalResult(mrOk);
        Ok->SetDefault(true);
        Other = &AddControl<Button>("Other");
        Group = &AddControl<RadioGroup>("Group");
        Group->SetItems({"a", "b", "c"});
        Group->OnClick = [this](Component*) { ++groupClicks; };
    }
    Button* Ok;
    Button* Other;
    RadioGroup* Group;
    int groupClicks = 0;
};

TEST(Controls, RadioGroupClicksOnlyOnChangeAndButtonsRespectEnabledAndModalResult) {
    ScopedSimDesktop desktop;
    Component root(nullptr);
    auto& f = root.Create<TestForm>();
    f.Group->SetItemIndex(1);
    f.Group->SetItemIndex(1);
    f.Group->SetItemIndex(2);
    EXPECT_EQ(f.groupClicks, 2);
    f.Group->SetItemIndex(7);  // out of range: nothing selected
    EXPECT_EQ(f.Group->ItemIndex(), -1);

    int clicks = 0;
    f.Other->OnClick = [&](Component*) { ++clicks; };
    f.Other->SetEnabled(false);
    f.Other->Click();
    EXPECT_EQ(clicks, 0);
    f.Other->SetEnabled(true);
    f.Other->Click();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(f.ModalResult(), mrNone);  // a button without a result does not close
}

TEST(ModalForms, ScriptedUserRunsTheLoopWhileTheDialogStaysOpenAndNestedDialogsWork) {
    ScopedSimDesktop desktop;
    Component root(nullptr);
    auto& outer = root.Create<TestForm>();
    auto& inner = root.Create<TestForm>();
    inner.SetName("Inner");

    // A message posted while the outer dialog is open is handled inside its nested loop.
    int delivered = 0;
    auto& loop = desktop->loop();
    const platform::Hwnd w = loop.CreateHiddenWindow([&](std::uint32_t, platform::WParam, platform::LParam) {
        ++delivered;
        return platform::LResult{0};
    });
    int innerResult = -1;
    outer.Other->OnClick = [&](Component*) { innerResult = inner.ShowModal(); };

    desktop->ui().Expect([&](ScriptedDialog& s) {
        EXPECT_TRUE(outer.Showing());
        loop.PostMessage(w, 0x400, 0, 0);
        s.RunFor(std::chrono::milliseconds(30));
        EXPECT_EQ(delivered, 1);
        s.Click("Other");  // opens the inner dialog, answered by the next script
        s.PressEnter();
    });
    desktop->ui().Expect([](ScriptedDialog& s) {
        s.PressEscape();  // no cancel button: Esc answers nothing
        EXPECT_FALSE(s.Closed());
        s.CloseBox();
    });

    EXPECT_EQ(outer.ShowModal(), mrOk);
    EXPECT_EQ(innerResult, mrCancel);
    EXPECT_FALSE(outer.Showing());
    ASSERT_EQ(desktop->ui().Shown().size(), 2u);
    EXPECT_EQ(desktop->ui().Shown()[0].name, "TestForm");
    EXPECT_EQ(desktop->ui().Shown()[1].name, "Inner");
    loop.DestroyWindow(w);
}

TEST(ApplicationObject, AnExceptionEscapingAHandlerIsReportedAndTheLoopCarriesOn) {
    ScopedSimDesktop desktop;
    Application app;
    app.SetTitle("T");
    auto& loop = desktop->loop();
    int after = 0;
    const platform::Hwnd w = loop.CreateHiddenWindow([&](std::uint32_t m, platform::WParam, platform::LParam) {
        if (m == 1) throw std::runtime_error("boom");
        ++after;
        return platform::LResult{0};
    });
    loop.PostMessage(w, 1, 0, 0);
    loop.PostMessage(w, 2, 0, 0);
    loop.ProcessMessages();
    EXPECT_EQ(after, 1);
    ASSERT_EQ(desktop->ui().Exceptions().size(), 1u);
    EXPECT_EQ(desktop->ui().Exceptions()[0], "boom");

    // Terminate ends the main loop.
    loop.PostMessage(w, 3, 0, 0);
    app.Terminate();
    app.Run();
    EXPECT_TRUE(app.Terminated());
    loop.DestroyWindow(w);
}

TEST(Menus, RemovingAnItemKeepsTheOthersInOrder) {
    ScopedSimDesktop desktop;
    Component root(nullptr);
    auto& menu = root.Create<PopupMenu>();
    std::vector<MenuItem*> items;
    for (const char* c : {"a", "-", "b", "c"}) {
        auto& i = root.Create<MenuItem>();
        i.SetCaption(c);
        menu.Add(i);
        items.push_back(&i);
    }
    EXPECT_TRUE(items[1]->IsSeparator());
    menu.Remove(2);
    menu.Remove(9);
    ASSERT_EQ(menu.Count(), 3u);
    EXPECT_EQ(menu.Item(2).Caption(), "c");
    int x = -1, y = -1;
    desktop->ui().onMenu = [&](PopupMenu& m, int px, int py) {
        x = px;
        y = py;
        m.Item(0).Click();
    };
    int clicked = 0;
    items[0]->OnClick = [&](Component*) { ++clicked; };
    menu.Popup(10, 20);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(clicked, 1);
}

}  // namespace
}  // namespace zumelko
