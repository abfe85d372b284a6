// Two whole programs forward text and pictures to each other over real TCP.
#include <gtest/gtest.h>

#include "tests/core/ProgramFixture.h"
#include "tests/e2e/Instance.h"

namespace zumelko::testing {
namespace {

const std::string kDone = "データの転送が終了しました。";

struct Pair {
    Instance a{"A", {"--address", "127.0.0.2", "--user", "alice", "--computer", "PC-A", "--host", "PC-B=127.0.0.3",
                     "--host", "PC-A=127.0.0.2", "--machines", "PC-B,PC-A", "--browsers", "IExplore"}};
    Instance b{"B", {"--address", "127.0.0.3", "--user", "bob", "--computer", "PC-B", "--host", "PC-A=127.0.0.2",
                     "--host", "PC-B=127.0.0.3", "--machines", "PC-A,PC-B", "--browsers", "IExplore,Netscape"}};
};

TEST(TwoInstances, TextInUseDefaultIsAnnouncedConfirmedImportedAndNotSentBack) {
    Pair p;
    p.a.Configure(1, 0, "PC-B");
    p.b.Configure(1, 0, "PC-A");  // B would forward its own changes: the import must not be one
    EXPECT_EQ(p.a.Do("state"), "1 0 0 0 " + Hex("PC-B"));

    p.a.Do("copy-text " + Hex("hello, 世界"));
    ASSERT_TRUE(p.a.WaitOpen("Form2"));
    EXPECT_EQ(p.a.Caption("Form2", "Label1"), "ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"PC-B\"に送信します。");
    p.a.Click("Form2", "Button1");

    ASSERT_TRUE(p.b.WaitOpen("Form5"));
    EXPECT_EQ(p.b.Caption("Form5", "Label3"), "\"PC-A\" にいる \"alice\" から");
    EXPECT_EQ(p.b.Caption("Form5", "Label1"), "\"文字列\"データを受信しました。");
    // The sender reports the end only after the receiver's answer.
    EXPECT_TRUE(p.a.Notices().size() == 1);
    p.b.Click("Form5", "Button1");
    ASSERT_TRUE(p.a.WaitFor("notices", [](const std::string& r) { return r.find(' ') != std::string::npos; }));
    EXPECT_EQ(p.a.Notices().back().rfind(kDone, 0), 0u) << "the end, with the check code after it";
    EXPECT_EQ(p.b.Clipboard(), "text " + Hex("hello, 世界"));
    // Nothing came back: B announced nothing and A showed no receive dialog.
    EXPECT_TRUE(p.b.Notices().empty());
    EXPECT_EQ(p.b.Words("state")[3], "0");
    EXPECT_EQ(p.a.Do("shown").find("Form5"), std::string::npos);
}

TEST(TwoInstances, PictureThroughTheChooserArrivesWithTheSamePixels) {
    Pair p;
    p.a.Configure(0, 0, "");
    const std::string bmp = HandMadeBmp24(7, 5, 42);
    p.a.Do("copy-bmp " + Hex(bmp));
    ASSERT_TRUE(p.a.WaitOpen("Form8"));
    EXPECT_EQ(p.a.Caption("Form8", "Label1"), "どこへ送信しますか？");
    p.a.Do("type Form8 ComboBox1 " + Hex("PC-B"));
    p.a.Click("Form8", "Button1");
    ASSERT_TRUE(p.b.WaitOpen("Form5"));
    EXPECT_EQ(p.b.Caption("Form5", "Label1"), "\"画像\"データを受信しました。");
    EXPECT_EQ(p.b.Do("enabled Form5 Button4"), "0");
    p.b.Click("Form5", "Button1");
    ASSERT_TRUE(p.a.WaitFor("notices", [](const std::string& r) { return !r.empty(); }));
    ASSERT_EQ(p.a.Notices().size(), 1u);
    EXPECT_EQ(p.a.Notices()[0].rfind(kDone, 0), 0u);
    EXPECT_EQ(p.b.Clipboard(), "bitmap " + Hex(bmp));
}

TEST(TwoInstances, SendingFromTheMenusAndTheReceiveStates) {
    Pair p;
    // "デフォルトへ転送(&T)" in NoCheck; B answers NO.
    p.a.Do("copy-text " + Hex("one.example"));
    p.a.Configure(2, 0, "PC-B");
    p.a.Do("tray right 0");
    ASSERT_TRUE(p.b.WaitOpen("Form5"));
    p.b.Click("Form5", "Button2");
    ASSERT_TRUE(p.a.WaitFor("notices", [](const std::string& r) { return !r.empty(); }));
    EXPECT_EQ(p.b.Clipboard(), "none");
    p.a.Click("Form2", "Button1");

    // A machine entry of the left menu, B asleep: nothing shows there, A still hears the end.
    p.b.Configure(2, 2, "");
    const auto left = p.a.Words("menu left");
    ASSERT_GE(left.size(), 3u);
    EXPECT_EQ(Unhex(left[2]), "PC-B");
    p.a.Do("tray left 2");
    ASSERT_TRUE(p.a.WaitFor("notices", [](const std::string& r) { return r.find(' ') != std::string::npos; }));
    ASSERT_EQ(p.a.Notices().size(), 2u);
    for (const std::string& notice : p.a.Notices()) EXPECT_EQ(notice.rfind(kDone, 0), 0u);
    const std::string shown = p.b.Do("shown");
    EXPECT_EQ(shown.find("Form5"), shown.rfind("Form5"));  // only the one answered NO above
    p.a.Click("Form2", "Button1");

    // URL link with Internet Explorer: a poke of the text; a picture is discarded with a notice.
    p.b.Configure(2, 1, "", 1);
    p.a.Do("tray right 0");
    ASSERT_TRUE(p.b.WaitOpen("Form3"));
    EXPECT_EQ(p.b.Caption("Form3", "Label2"), "Internet Explorerにリンクしますか？");
    p.b.Click("Form3", "Button1");
    ASSERT_TRUE(p.b.WaitFor("dde", [](const std::string& r) { return !r.empty(); }));
    const auto dde = p.b.Words("dde");
    ASSERT_FALSE(dde.empty());
    EXPECT_NE(Unhex(dde.back()).find("one"), std::string::npos);

    p.a.Do("copy-bmp " + Hex(HandMadeBmp24(2, 2, 1)));
    p.a.Do("tray right 0");
    ASSERT_TRUE(p.b.WaitOpen("Form2"));
    EXPECT_EQ(p.b.Caption("Form2", "Label1"), "\"画像\"データが送られてきたので、破棄します。");
    p.b.Click("Form2", "Button1");
}

TEST(TwoInstances, FailuresGiveTheirNoticesOnly) {
    Instance a{"A", {"--address", "127.0.0.2", "--host", "PC-Z=127.0.0.9"}};
    a.Configure(2, 0, "PC-Z");
    a.Do("copy-text " + Hex("x"));
    a.Do("tray right 0");
    ASSERT_TRUE(a.WaitOpen("Form2"));
    EXPECT_EQ(a.Caption("Form2", "Label1"), "起動されていない、もしくは受信中です。");
    a.Click("Form2", "Button1");

    a.Do("copy-nothing");
    a.Do("tray right 0");
    ASSERT_TRUE(a.WaitOpen("Form2"));
    EXPECT_EQ(a.Caption("Form2", "Label1"), "本ﾊﾞｰｼﾞｮﾝではｻﾎﾟｰﾄされていない形式のﾃﾞｰﾀです。");
    a.Click("Form2", "Button1");
    a.Do("open");
    EXPECT_EQ(a.Notices().size(), 2u);
}

}  // namespace
}  // namespace zumelko::testing
