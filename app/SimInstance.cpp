#include "app/SimInstance.h"

#include <arpa/inet.h>

#include <sstream>
#include <stdexcept>

#include "core/MainForm.h"
#include "transport/SecureTcp.h"
#include "transport/tls/TlsContext.h"
#include "desktop/BitmapImage.h"
#include "dialogs/OKDialog.h"
#include "framework/Application.h"
#include "framework/Stream.h"
#include "platform/sim/SimDesktop.h"

namespace zumelko {

using platform::sim::SimDesktop;

std::string ToHex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string FromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex");
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("bad hex");
    };
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out += static_cast<char>(nibble(hex[i]) * 16 + nibble(hex[i + 1]));
    return out;
}

namespace {

std::uint32_t Dotted(const std::string& text) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) throw std::invalid_argument("not an address: " + text);
    return a.s_addr;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (!item.empty()) out.push_back(item);
    }
    return out;
}

Form& FindForm(const std::string& name) {
    Application& app = App();
    for (std::size_t i = 0; i < app.ComponentCount(); ++i) {
        if (auto* f = dynamic_cast<Form*>(&app.ComponentAt(i)); f != nullptr && f->Name() == name) return *f;
    }
    throw std::invalid_argument("no form " + name);
}

Control& FindControl(const std::string& form, const std::string& control) {
    Control* c = FindForm(form).FindControl(control);
    if (c == nullptr) throw std::invalid_argument("no control " + control + " on " + form);
    return *c;
}

// Runs an action later, as its own event: an action may open a modal dialog, and the reply to
// the command must not wait for that dialog to close.
void Later(SimDesktop& desktop, std::function<void()> action) {
    auto& loop = desktop.loop();
    auto holder = std::make_shared<std::function<void()>>(std::move(action));
    auto window = std::make_shared<platform::Hwnd>(0);
    *window = loop.CreateHiddenWindow([&loop, holder, window](std::uint32_t, platform::WParam, platform::LParam) {
        const platform::Hwnd self = *window;
        auto run = *holder;
        loop.DestroyWindow(self);
        run();
        return platform::LResult{0};
    });
    loop.PostMessage(*window, platform::WM_USER_, 0, 0);
}

platform::Hwnd OtherProgramWindow(SimDesktop& desktop) {
    static platform::Hwnd window = 0;
    if (window == 0 || !desktop.loop().IsWindow(window))
        window = desktop.loop().CreateHiddenWindow([](std::uint32_t, platform::WParam, platform::LParam) {
            return platform::LResult{0};
        });
    // Its changes reach the program through the loop, as another program's do.
    desktop.clipboard().AddOtherProgram(window);
    return window;
}

std::vector<platform::sim::SimBrowserServer*>& BrowserServers() {
    static std::vector<platform::sim::SimBrowserServer*> servers;
    return servers;
}

std::string ListMenu(const PopupMenu& menu) {
    std::string out = "ok";
    for (std::size_t i = 0; i < menu.Count(); ++i) out += " " + ToHex(menu.Item(i).Caption());
    return out;
}

}  // namespace

SimInstanceOptions ParseSimInstanceOptions(int argc, char** argv) {
    SimInstanceOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--address") {
            o.address = value();
        } else if (arg == "--host") {
            const std::string v = value();
            const auto eq = v.find('=');
            if (eq == std::string::npos) throw std::invalid_argument("--host NAME=ADDRESS");
            o.hosts.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (arg == "--user") {
            o.user = value();
        } else if (arg == "--computer") {
            o.computer = value();
        } else if (arg == "--machines") {
            o.machines = SplitList(value());
        } else if (arg == "--display-bits") {
            o.displayBits = std::stoi(value());
        } else if (arg == "--browsers") {
            o.browsers = SplitList(value());
        } else if (arg == "--echo") {
            o.echo = true;
        } else {
            throw std::invalid_argument("unknown option " + arg);
        }
    }
    return o;
}

void ConfigureSimDesktop(SimDesktop& desktop, const SimInstanceOptions& o) {
    if (!o.address.empty()) desktop.sockets().SetLocalAddress(Dotted(o.address));
    for (const auto& [name, addr] : o.hosts) desktop.sockets().AddHost(name, Dotted(addr));
    desktop.network().userName = o.user;
    desktop.network().computerName = o.computer;
    auto& group = desktop.network().AddProvider("Microsoft Windows Network").AddWorkgroup("WORKGROUP");
    for (const auto& m : o.machines) group.AddMachine(m);
    desktop.gdi().SetDisplayBitsPerPixel(o.displayBits);
    for (const auto& service : o.browsers) BrowserServers().push_back(&desktop.dde().AddServer(service, "WWW_OpenURL"));
    // Dialogs stay open until a command answers them.
    desktop.ui().onShow = [echo = o.echo](platform::sim::ScriptedDialog& s) {
        if (!echo) return;
        std::fprintf(stderr, "[dialog %s \"%s\"]\n", s.form().Name().c_str(), s.form().Caption().c_str());
        for (Control* c : s.form().Controls())
            if (!c->Caption().empty()) std::fprintf(stderr, "  %s: %s\n", c->Name().c_str(), c->Caption().c_str());
    };
}

std::string RunSimCommand(SimDesktop& desktop, const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    auto next = [&in, &cmd]() {
        std::string w;
        if (!(in >> w)) throw std::invalid_argument(cmd + ": missing argument");
        return w;
    };
    auto& cb = desktop.clipboard();

    if (cmd.empty()) return "ok";
    if (cmd == "help") {
        return "ok copy-text HEX | copy-bmp HEX | copy-nothing | clipboard | open | caption F C | enabled F C | "
               "selected F C | items F C | click F C | select F C N | type F C HEX | closebox F | tray left|right N | "
               "menu left|right | state | notices | shown | dde | beeps | quit";
    }
    if (cmd == "copy-text") {
        const std::string text = FromHex(next());
        Later(desktop, [&desktop, text] {
            auto& c = desktop.clipboard();
            c.OpenClipboard(OtherProgramWindow(desktop));
            c.EmptyClipboard();
            c.SetText(text + std::string(1, '\0'));
            c.CloseClipboard();
        });
        return "ok";
    }
    if (cmd == "copy-bmp") {
        auto picture = std::make_shared<BitmapImage>();
        MemoryStream s;
        const std::string bmp = FromHex(next());
        s.Write(bmp.data(), bmp.size());
        s.SetPosition(0);
        picture->ReadFromStream(s);
        Later(desktop, [&desktop, picture] {
            auto& c = desktop.clipboard();
            auto form = picture->SaveToClipboardFormat();
            c.OpenClipboard(OtherProgramWindow(desktop));
            c.EmptyClipboard();
            c.SetBitmap(form.bitmap.Release());
            if (form.palette) c.SetPalette(form.palette.Release());
            c.CloseClipboard();
        });
        return "ok";
    }
    if (cmd == "copy-nothing") {
        Later(desktop, [&desktop] {
            auto& c = desktop.clipboard();
            c.OpenClipboard(OtherProgramWindow(desktop));
            c.EmptyClipboard();
            c.CloseClipboard();
        });
        return "ok";
    }
    if (cmd == "clipboard") {
        if (cb.IsClipboardFormatAvailable(platform::CF_TEXT_)) {
            cb.OpenClipboard(OtherProgramWindow(desktop));
            const std::string text = cb.GetText().value_or("");
            cb.CloseClipboard();
            return "ok text " + ToHex(text.substr(0, text.find('\0')));
        }
        if (cb.IsClipboardFormatAvailable(platform::CF_BITMAP_)) {
            cb.OpenClipboard(OtherProgramWindow(desktop));
            BitmapImage picture;
            try {
                picture.LoadFromClipboardFormat(cb.GetBitmap(), cb.GetPalette());
            } catch (...) {
                cb.CloseClipboard();
                throw;
            }
            cb.CloseClipboard();
            MemoryStream s;
            picture.WriteToStream(s);
            return "ok bitmap " + ToHex(std::string(s.View()));
        }
        return "ok none";
    }
    if (cmd == "open") {
        std::string out = "ok";
        for (Form* f : desktop.ui().OpenForms()) out += " " + f->Name();
        return out;
    }
    if (cmd == "caption") {
        const std::string f = next();
        return "ok " + ToHex(FindControl(f, next()).Caption());
    }
    if (cmd == "enabled") {
        const std::string f = next();
        return FindControl(f, next()).Enabled() ? "ok 1" : "ok 0";
    }
    if (cmd == "selected") {
        const std::string f = next();
        auto* g = dynamic_cast<RadioGroup*>(&FindControl(f, next()));
        if (g == nullptr) throw std::invalid_argument("not a radio group");
        return "ok " + std::to_string(g->ItemIndex());
    }
    if (cmd == "items") {
        const std::string f = next();
        Control& c = FindControl(f, next());
        std::string out = "ok";
        if (auto* combo = dynamic_cast<ComboBox*>(&c)) {
            out += " " + ToHex(combo->Text());
            for (const auto& i : combo->Items()) out += " " + ToHex(i);
        } else if (auto* memo = dynamic_cast<Memo*>(&c)) {
            out += " " + ToHex(memo->Text());
        }
        return out;
    }
    if (cmd == "click") {
        const std::string f = next();
        auto* b = dynamic_cast<Button*>(&FindControl(f, next()));
        if (b == nullptr) throw std::invalid_argument("not a button");
        Later(desktop, [b] { b->Click(); });
        return "ok";
    }
    if (cmd == "select") {
        const std::string f = next();
        auto* g = dynamic_cast<RadioGroup*>(&FindControl(f, next()));
        if (g == nullptr) throw std::invalid_argument("not a radio group");
        const int index = std::stoi(next());
        Later(desktop, [g, index] { g->SetItemIndex(index); });
        return "ok";
    }
    if (cmd == "type") {
        const std::string f = next();
        Control& c = FindControl(f, next());
        std::string hex;
        in >> hex;  // an empty text has no word at all
        const std::string text = FromHex(hex);
        if (auto* combo = dynamic_cast<ComboBox*>(&c)) {
            combo->SetText(text);
        } else if (auto* memo = dynamic_cast<Memo*>(&c)) {
            memo->SetText(text);
        } else if (auto* edit = dynamic_cast<Edit*>(&c)) {
            edit->SetText(text);
        } else {
            throw std::invalid_argument("cannot type there");
        }
        return "ok";
    }
    if (cmd == "closebox") {
        Form& f = FindForm(next());
        Later(desktop, [&f] { f.Close(); });
        return "ok";
    }
    if (cmd == "tray") {
        const std::string button = next();
        const int choice = std::stoi(next());
        desktop.ui().onMenu = [choice](PopupMenu& menu, int, int) {
            if (choice >= 0 && static_cast<std::size_t>(choice) < menu.Count()) menu.Item(static_cast<std::size_t>(choice)).Click();
        };
        const bool left = button == "left";
        desktop.shell().PostMouse(left ? platform::WM_LBUTTONDOWN_ : platform::WM_RBUTTONDOWN_);
        desktop.shell().PostMouse(left ? platform::WM_LBUTTONUP_ : platform::WM_RBUTTONUP_);
        return "ok";
    }
    if (cmd == "menu") {
        return ListMenu(next() == "left" ? *Form1->PopupMenu1 : *Form1->PopupMenu2);
    }
    if (cmd == "state") {
        std::ostringstream out;
        out << "ok " << int{Form1->CheckerMode} << ' ' << int{Form1->ReceiveMode} << ' ' << Form1->Browser << ' '
            << int{Form1->SkipCount} << ' ' << ToHex(Form1->DefaultDestination);
        return out.str();
    }
    if (cmd == "security") {
        // How the item last asked about came: encrypted, its check code, passphrase.
        const ItemSecurity& s = Form1->RecvSecurity;
        return "ok " + std::to_string(int{s.encrypted}) + " " + ToHex(s.checkCode) + " " +
               std::to_string(int{s.passphrase});
    }
    if (cmd == "waiting") return "ok " + std::to_string(Form1->WaitingItems());
    if (cmd == "strict") {
        Form1->StrictMode = next() == "1";
        return "ok";
    }
    if (cmd == "passphrase") {
        // Hex of the UTF-8 passphrase; "-" clears it.
        const std::string hex = next();
        if (hex == "-") {
            Form1->Tls->ClearPassphrase();
        } else {
            Form1->Tls->SetPassphraseKey(tls::DerivePassphraseKey(FromHex(hex)));
        }
        return "ok";
    }
    if (cmd == "secure-off") {
        // A classic peer from now on: nothing listens on the encrypted port.
        Form1->Secure1->ListenerSocket().StopListening();
        return "ok";
    }
    if (cmd == "secure-on") {
        Form1->Secure1->Listen();
        return "ok";
    }
    if (cmd == "notices") {
        std::string out = "ok";
        for (const auto& s : desktop.ui().Shown()) {
            if (s.name != "Form2") continue;
            for (const auto& [name, caption] : s.captions)
                if (name == "Label1") out += " " + ToHex(caption);
        }
        return out;
    }
    if (cmd == "shown") {
        std::string out = "ok";
        for (const auto& s : desktop.ui().Shown()) out += " " + s.name + ":" + std::to_string(s.result);
        return out;
    }
    if (cmd == "dde") {
        std::string out = "ok";
        for (const auto* server : BrowserServers()) {
            for (const auto& t : server->transactions) {
                const char* kind = t.type == platform::XTYP_POKE_ ? "poke" : "request";
                out += " " + ToHex(server->Service() + " " + kind + " " + t.item);
            }
        }
        return out;
    }
    if (cmd == "beeps") return "ok " + std::to_string(desktop.shell().Beeps());
    if (cmd == "quit") {
        App().Terminate();
        return "ok";
    }
    return "err unknown command " + cmd;
}

}  // namespace zumelko
