// A received text on the real desktop: other programs read from the clipboard exactly the text
// the program put there, large ones included, and the preview of a long text shows a bounded
// part in the real memo while a short one shows as it always did.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "dialogs/PreviewDialog.h"
#include "framework/Application.h"
#include "platform/qt/Charset.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

using namespace zumelko::platform;

class ReceivedText : public ::testing::Test {
protected:
    void SetUp() override {
        owner_ = Desk().loop().CreateHiddenWindow([](std::uint32_t, WParam, LParam) { return LResult{0}; });
    }
    void TearDown() override { Desk().loop().DestroyWindow(owner_); }
    void Put(const std::string& text) {
        auto& clip = Desk().clipboard();
        ASSERT_TRUE(clip.OpenClipboard(owner_));
        clip.EmptyClipboard();
        ASSERT_TRUE(clip.SetText(text + '\0'));
        clip.CloseClipboard();
        Pump(100);
    }
    std::optional<std::string> OwnText() {
        auto& clip = Desk().clipboard();
        clip.OpenClipboard(owner_);
        auto t = clip.GetText();
        clip.CloseClipboard();
        return t;
    }
    static Ran Xclip(const QStringList& args) {
        return RunProgram(QStringLiteral("xclip"), QStringList{"-selection", "clipboard", "-o"} + args, {}, 30000);
    }

    Hwnd owner_ = 0;
};

TEST_F(ReceivedText, OtherProgramsReadTheVeryText) {
    std::string big;
    while (big.size() < (3u << 20)) big += "クリップボード転送 line\r\n";
    const struct {
        const char* what;
        std::string text;
        QStringList target;
        std::string expected;
    } cases[] = {
        {"several MiB of Japanese, as UTF8_STRING", big, {}, big},
        {"the same as text/plain", big, {"-t", "text/plain"}, big},
        {"ASCII as STRING", "plain words ;$(x) <b>", {"-t", "STRING"}, "plain words ;$(x) <b>"},
        {"ASCII as TEXT", "plain words", {"-t", "TEXT"}, "plain words"},
        {"half-width kana", "ﾊｲ ﾀｱ", {}, "ﾊｲ ﾀｱ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Put(c.text);
        const Ran out = Xclip(c.target);
        ASSERT_TRUE(out.finished);
        EXPECT_EQ(out.out.size(), c.expected.size());
        EXPECT_TRUE(out.out == c.expected);
        EXPECT_TRUE(OwnText() == c.text + '\0') << "the program reads back the block it wrote";
    }
    const Ran targets = Xclip({"-t", "TARGETS"});
    for (const char* t : {"UTF8_STRING", "STRING", "TEXT", "text/plain"})
        EXPECT_NE(targets.out.find(t), std::string::npos) << t;
}

// Shows the preview of text on the desktop and returns what its memo holds.
QString Preview(TForm6& form, const std::string& text) {
    QString shown;
    Desk().ui().onShown = [&](Form&, QWidget& window) {
        QTimer::singleShot(50, &window, [&] {
            auto* memo = dynamic_cast<QPlainTextEdit*>(Desk().ui().WidgetOf(*form.Memo1));
            if (memo != nullptr) shown = memo->toPlainText();
            dynamic_cast<QPushButton*>(Desk().ui().WidgetOf(*form.Button1))->click();
        });
    };
    form.ShowText(text);
    Desk().ui().onShown = nullptr;
    return shown;
}

TEST_F(ReceivedText, PreviewOfALongTextIsBoundedOnTheDesktop) {
    Application& app = App();
    TForm6& form = app.Create<TForm6>();
    EXPECT_EQ(Preview(form, "line1\r\nline2"), QStringLiteral("line1\nline2\n")) << "an ordinary text as ever";

    std::string longText;
    while (longText.size() < 8 * kPreviewLimit) longText += "転送";
    const QString shown = Preview(form, longText);
    const QString cut = QString::fromUtf8(kPreviewCutLine);
    ASSERT_TRUE(shown.endsWith(cut + '\n'));
    const QString head = shown.left(shown.size() - cut.size() - 2);
    EXPECT_GT(head.size(), 0);
    EXPECT_LE(head.toUtf8().size(), static_cast<qsizetype>(kPreviewLimit));
    EXPECT_TRUE(QString::fromUtf8(longText.data(), static_cast<qsizetype>(longText.size())).startsWith(head))
        << "the shown part is the text's beginning, whole characters only";
    app.DestroyComponent(form);
}

}  // namespace
}  // namespace zumelko::qttest
