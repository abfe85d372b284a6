#include "tests/core/ProgramFixture.h"

#include "desktop/BitmapImage.h"
#include "dialogs/OKDialog.h"
#include "framework/Stream.h"

namespace zumelko::testing {

std::string HandMadeBmp24(int width, int height, std::uint8_t seed) {
    const int stride = ((width * 24 + 31) / 32) * 4;
    const int image = stride * height;
    std::string b;
    auto put16 = [&b](int v) {
        b += static_cast<char>(v & 0xFF);
        b += static_cast<char>((v >> 8) & 0xFF);
    };
    auto put32 = [&b](std::int64_t v) {
        for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    b += "BM";
    put32(54 + image);
    put16(0);
    put16(0);
    put32(54);
    put32(40);
    put32(width);
    put32(height);
    put16(1);
    put16(24);
    put32(0);
    put32(image);
    put32(0);
    put32(0);
    put32(0);
    put32(0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            b += static_cast<char>((x * 40 + seed) & 0xFF);
            b += static_cast<char>((y * 70 + seed) & 0xFF);
            b += static_cast<char>((x * y + seed) & 0xFF);
        }
        b.append(static_cast<std::size_t>(stride - width * 3), '\0');
    }
    return b;
}

void ProgramTest::Start(const std::vector<std::string>& machines) {
    desktop_->sockets().SetLocalAddress(Inet(kHere));
    desktop_->sockets().AddHost("PEER", Inet(kPeer));
    auto& group = desktop_->network().AddProvider("Microsoft Windows Network").AddWorkgroup("WORKGROUP");
    for (const auto& m : machines) group.AddMachine(m);
    desktop_->network().userName = "user1";
    desktop_->network().computerName = "PC01";
    other_ = desktop_->loop().CreateHiddenWindow([](std::uint32_t, platform::WParam, platform::LParam) {
        return platform::LResult{0};
    });
    desktop_->clipboard().AddOtherProgram(other_);
    app_ = std::make_unique<Application>();
    app_->SetTitle("Zumelko_beta3");
    CreateForms(*app_);
}

void ProgramTest::TearDown() {
    if (app_) {
        app_->DestroyForms();
        ForgetForms();
        app_.reset();
    }
    if (other_ != 0) desktop_->loop().DestroyWindow(other_);
}

void ProgramTest::CopyText(const std::string& text) {
    auto& cb = desktop_->clipboard();
    cb.OpenClipboard(other_);
    cb.EmptyClipboard();
    cb.SetText(text + std::string(1, '\0'));
    cb.CloseClipboard();
    TakeNotice();
}

void ProgramTest::CopyBmp(const std::string& bmp) {
    BitmapImage picture;
    MemoryStream stream;
    stream.Write(bmp.data(), bmp.size());
    stream.SetPosition(0);
    picture.ReadFromStream(stream);
    auto form = picture.SaveToClipboardFormat();
    auto& cb = desktop_->clipboard();
    cb.OpenClipboard(other_);
    cb.EmptyClipboard();
    if (cb.SetBitmap(form.bitmap.Get())) form.bitmap.Release();
    if (form.palette && cb.SetPalette(form.palette.Get())) form.palette.Release();
    cb.CloseClipboard();
    TakeNotice();
}

void ProgramTest::CopyNothing() {
    auto& cb = desktop_->clipboard();
    cb.OpenClipboard(other_);
    cb.EmptyClipboard();
    cb.CloseClipboard();
    TakeNotice();
}

void ProgramTest::TakeNotice() {
    // Another program's change reaches the program through its loop.
    desktop_->loop().ProcessMessages();
}

std::optional<std::string> ProgramTest::ClipboardText() {
    auto& cb = desktop_->clipboard();
    cb.OpenClipboard(other_);
    auto t = cb.GetText();
    cb.CloseClipboard();
    // The clipboard holds the text's memory block; the text ends at its first NUL.
    if (t) t = t->substr(0, t->find('\0'));
    return t;
}

bool ProgramTest::ClipboardHasBitmap() { return desktop_->clipboard().IsClipboardFormatAvailable(platform::CF_BITMAP_); }

std::vector<std::string> ProgramTest::Notices() {
    std::vector<std::string> out;
    for (const auto& s : desktop_->ui().Shown()) {
        if (s.name != "Form2") continue;
        for (const auto& [name, caption] : s.captions)
            if (name == "Label1") out.push_back(caption);
    }
    return out;
}

std::size_t ProgramTest::CountShown(const std::string& formName) {
    std::size_t n = 0;
    for (const auto& s : desktop_->ui().Shown()) n += s.name == formName;
    return n;
}

std::future<bool> ProgramTest::SendItem(const std::string& type, const std::string& user,
                                        const std::string& machine, const std::string& data, int dataTimeoutMs) {
    const std::string header = type + "\r\n" + user + "\r\n" + machine + "\r\n";
    return std::async(std::launch::async, [header, data, dataTimeoutMs] {
        if (!RawSendPacket(kHere, 8000, header, 20000)) return false;
        return RawSendPacket(kHere, 8001, data, dataTimeoutMs);
    });
}

}  // namespace zumelko::testing
