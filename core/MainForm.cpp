#include "core/MainForm.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "desktop/BitmapImage.h"
#include "desktop/BrowserLink.h"
#include "desktop/ClipboardAccess.h"
#include "desktop/ClipboardViewer.h"
#include "desktop/DdeClientConv.h"
#include "desktop/NetUtility.h"
#include "desktop/TaskBar.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/CustomDialog.h"
#include "dialogs/OKDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "dialogs/SendDialog.h"
#include "dialogs/YesNoDialog.h"
#include "framework/Application.h"
#include "framework/SharedText.h"
#include "framework/StringList.h"
#include "platform/Clipboard.h"
#include "platform/Desktop.h"
#include "transport/SimpleTcp.h"

namespace zumelko {

TForm1* Form1 = nullptr;

namespace {

void ReportRefusedText(std::size_t length) {
    std::fprintf(stderr, "zumelko: refused a received text of %zu bytes; texts are taken up to %zu bytes\n", length,
                 kMaxReceivedText);
}

// A text announced under another header and then relabelled by a newer one got past the
// check at its length field.
bool TextFits(const SharedText& text) {
    if (text.Size() < kMaxReceivedText) return true;
    ReportRefusedText(text.Size() + 1);
    return false;
}

void Notice(const std::string& text) {
    if (Form2 != nullptr) Form2->ShowNotice(text);
}

}  // namespace

MenuItem& TForm1::AddItem(PopupMenu& menu, const char* name, const char* caption,
                          void (TForm1::*click)(Component*)) {
    auto& item = Create<MenuItem>();
    item.SetName(name);
    item.SetCaption(caption);
    if (click != nullptr) item.OnClick = {this, click};
    menu.Add(item);
    return item;
}

TForm1::TForm1(Component* owner) : Form(owner) {
    SetName("Form1");
    SetCaption("Zumelko");
    SetBorder(BorderStyle::None);
    SetShowsIcon(true);

    PopupMenu1 = &Create<PopupMenu>();
    PopupMenu1->SetName("PopupMenu1");
    UpdateThisList1 = &AddItem(*PopupMenu1, "UpdateThisList1", "更新(&U)", &TForm1::UpdateThisList1Click);
    N1 = &AddItem(*PopupMenu1, "N1", "-", nullptr);
    PopupMenu2 = &Create<PopupMenu>();
    PopupMenu2->SetName("PopupMenu2");
    TransmitData1 = &AddItem(*PopupMenu2, "TransmitData1", "デフォルトへ転送(&T)", &TForm1::TransmitData1Click);
    Customize1 = &AddItem(*PopupMenu2, "Customize1", "設定(&C)", &TForm1::Customize1Click);
    N2 = &AddItem(*PopupMenu2, "N2", "-", nullptr);
    About1 = &AddItem(*PopupMenu2, "About1", "バージョン情報(&A)", &TForm1::About1Click);
    Exit1 = &AddItem(*PopupMenu2, "Exit1", "終了(&E)", &TForm1::Exit1Click);

    // Joining the viewer chain happens here, before the handler is attached, so whatever the
    // clipboard already holds at start-up is never reported.
    ClipboardViewer1 = &Create<TClipboardViewer>();
    ClipboardViewer1->SetName("ClipboardViewer1");
    ClipboardViewer1->OnChangeData = {this, &TForm1::ClipboardViewer1ChangeData};

    TaskBar1 = &Create<TTaskBar>();
    TaskBar1->SetName("TaskBar1");
    TaskBar1->SetIcon(Icon(platform::Current().shell().ApplicationIcon()));
    TaskBar1->SetEnableTaskBar(false);
    TaskBar1->SetEnableTaskTray(true);
    TaskBar1->SetPopupMenuLeft(PopupMenu1);
    TaskBar1->SetPopupMenuRight(PopupMenu2);

    Packet1 = &Create<TSimpleTcp>();
    Packet1->SetName("Packet1");
    Packet1->SetPort(8000);
    Packet1->SetMaxPacketSize(kMaxHeaderSize);
    Packet1->OnReceived = {this, &TForm1::Packet1Received};
    Packet1->OnSended = {this, &TForm1::Packet1Sended};
    Packet1->OnError = {this, &TForm1::Packet1Error};
    Packet2 = &Create<TSimpleTcp>();
    Packet2->SetName("Packet2");
    Packet2->SetPort(8001);
    Packet2->OnAnnounced = {this, &TForm1::Packet2Announced};
    Packet2->OnReceived = {this, &TForm1::Packet2Received};
    Packet2->OnSended = {this, &TForm1::Packet2Sended};
    Packet2->OnError = {this, &TForm1::Packet2Error};

    NetUtility1 = &Create<TNetUtility>();
    NetUtility1->SetName("NetUtility1");
    DdeClientConv1 = &Create<TDdeClientConv>();
    DdeClientConv1->SetName("DdeClientConv1");
    LoadComponents();

    RecvType.clear();
    RecvUser.clear();
    RecvMachine.clear();
    DefaultDestination.clear();
    ClipboardAccess = std::make_unique<zumelko::ClipboardAccess>();
    CheckerMode = NoCheck;
    ReceiveMode = IndividualSelection;
    SkipCount = 0;
    Browser = NetscapeNavigator;

    Packet1->Listen();
    Packet2->Listen();
    SetWidth(0);
    SetHeight(0);
    BuildDestinationList();
    constructing_ = false;
}

TForm1::~TForm1() { ClipboardAccess.reset(); }

void TForm1::StartupError(Component*, const std::string& message) {
    startupErrors_.push_back(kNetworkError + message);
}

void TForm1::ReportStartupErrors() {
    // Both listeners usually fail together with the same text; one notice says it.
    if (startupErrors_.empty()) return;
    const std::string first = startupErrors_.front();
    startupErrors_.clear();
    Notice(first);
}

// --- Sending -------------------------------------------------------------------------------

void TForm1::ClipboardViewer1ChangeData(Component*) {
    if (SkipCount != 0) {
        --SkipCount;
        return;
    }
    switch (CheckerMode) {
        case AskDestination: {
            Form8->Label1->SetCaption("どこへ送信しますか？");
            if (Form8->ShowChooser(DefaultDestination) != mrOk) return;
            const std::string destination = Form8->ComboBox1->Text();
            if (destination.empty()) {
                Notice(kNoDefaultDestination);
                return;
            }
            SendTo(this, destination);
            break;
        }
        case UseDefault:
            if (DefaultDestination.empty()) {
                Notice(kNoDefaultDestination);
                return;
            }
            Notice("ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"" + DefaultDestination + "\"に送信します。");
            SendToDefault();
            break;
        default:
            break;
    }
}

void TForm1::TransmitData1Click(Component*) {
    if (DefaultDestination.empty()) {
        Notice(kNoDefaultDestination);
        return;
    }
    SendToDefault();
}

void TForm1::SendToDefault() { SendTo(this, DefaultDestination); }

void TForm1::SendTo(Component*, const std::string& destination) {
    if (destination.empty()) return;
    Packet1->SetHostName(destination);
    Packet2->SetHostName(destination);
    StringList header;
    if (ClipboardAccess->HasFormat(platform::CF_TEXT_)) {
        header.Add("string");
    } else if (ClipboardAccess->HasFormat(platform::CF_BITMAP_)) {
        header.Add("bitmap");
    } else {
        ShowUnsupportedFormat();
        return;
    }
    header.Add(NetUtility1->UserName());
    header.Add(NetUtility1->ComputerName());
    Packet1->SendStrings(header);
}

void TForm1::ShowUnsupportedFormat() { Notice(kUnsupportedFormat); }

void TForm1::Packet1Sended(Component*) {
    // The clipboard is read again now: what goes out is what it holds at this moment.
    if (ClipboardAccess->HasFormat(platform::CF_TEXT_)) {
        std::string text;
        {
            ClipboardAccess::Scope open(*ClipboardAccess);
            text = ClipboardAccess->GetText();
        }
        Packet2->SendString(text);
    } else if (ClipboardAccess->HasFormat(platform::CF_BITMAP_)) {
        BitmapImage picture;
        {
            ClipboardAccess::Scope open(*ClipboardAccess);
            ClipboardAccess->GetBitmap(picture);
        }
        Packet2->SendGraphic(picture);
    } else {
        ShowUnsupportedFormat();
    }
}

void TForm1::Packet2Sended(Component*) { Notice(kTransferDone); }

void TForm1::Packet1Error(Component* sender, const std::string& message) {
    if (constructing_) {
        StartupError(sender, message);
        return;
    }
    Notice(kNotRunning);
}

void TForm1::Packet2Error(Component* sender, const std::string& message) {
    if (constructing_) {
        StartupError(sender, message);
        return;
    }
    Notice(kNetworkError + message);
}

// --- Receiving -----------------------------------------------------------------------------

void TForm1::Packet1Received(Component*) {
    // A refused header changes nothing: it cannot relabel an allowed sender's data either.
    if (!SenderAllowed(Packet1->PeerAddress(), Packet1->Port())) return;
    StringList header;
    Packet1->GetStrings(header);
    // A short header leaves the missing lines empty.
    RecvType = header.Count() > 0 ? header[0] : std::string();
    RecvUser = header.Count() > 1 ? header[1] : std::string();
    RecvMachine = header.Count() > 2 ? header[2] : std::string();
}

std::string TForm1::SenderLine() const {
    platform::UiHost& ui = platform::Current().ui();
    return "\"" + ui.CaptionText(RecvMachine) + "\" にいる \"" + ui.CaptionText(RecvUser) + "\" から";
}

void TForm1::Packet2Received(Component*) {
    switch (ReceiveMode) {
        case IndividualSelection:
            if (RecvType == "string") {
                // Taken out of the channel, not copied: the dialog shares these bytes, and the
                // clipboard's copy is the only other one.
                const SharedText text = Packet2->TakeString();
                if (!TextFits(text)) return;
                Form5->Label3->SetCaption(SenderLine());
                if (Form5->ShowTextReceived(text) == mrYes) TakeIntoClipboard([&] { ClipboardAccess->SetText(text); });
            } else if (RecvType == "bitmap") {
                BitmapImage picture;
                try {
                    Packet2->GetGraphic(picture);
                    // A picture the display cannot make could be neither previewed nor put on
                    // the clipboard; found out now, before the user is asked for it.
                    (void)picture.Handle();
                } catch (const std::exception&) {
                    // Not a picture this program can read: nothing to offer or import.
                    ShowUnsupportedFormat();
                    return;
                }
                if (picture.Empty()) {
                    ShowUnsupportedFormat();
                    return;
                }
                Form5->Label3->SetCaption(SenderLine());
                if (Form5->ShowBitmapReceived(picture) == mrYes)
                    TakeIntoClipboard([&] { ClipboardAccess->PutBitmap(picture); });
            } else {
                ShowUnsupportedFormat();
            }
            break;
        case UrlAutoLink:
            if (RecvType == "string") {
                const SharedText text = Packet2->TakeString();
                if (!TextFits(text)) return;
                std::string browserName;
                if (Browser == NetscapeNavigator) browserName = "Netscape Navigater";
                if (Browser == InternetExplorer) browserName = "Internet Explorer";
                Form3->Label3->SetCaption(SenderLine());
                if (Form3->ShowQuestion(browserName + "にリンクしますか？") == mrYes) LinkToBrowser(text.Str());
            } else if (RecvType == "bitmap") {
                BitmapImage picture;
                try {
                    Packet2->GetGraphic(picture);
                } catch (const std::exception&) {
                    return;
                }
                Notice(kPictureDiscarded);
            }
            break;
        default:
            break;
    }
}

void TForm1::Packet2Announced(Component*, std::size_t length, bool& accept) {
    // Every packet is announced before it is delivered: a refused one is never held.
    if (!SenderAllowed(Packet2->PeerAddress(), Packet2->Port())) {
        accept = false;
        return;
    }
    // Refused at the length field, before any of it is held. A header that arrives later may
    // still change what the packet is taken for; Packet2Received looks again.
    if (RecvType != "string" || length <= kMaxReceivedText) return;
    accept = false;
    ReportRefusedText(length);
}

void TForm1::TakeIntoClipboard(const std::function<void()>& write) {
    // The import is two clipboard transactions (the Clear, then the write), each told to the
    // watcher as the clipboard closes; SkipCount lets exactly those notices pass unforwarded.
    static constexpr int kTransactions = 2;
    const unsigned before = ClipboardAccess->Commits();
    SkipCount = kTransactions;
    // However the import ends (a write that fails, a clipboard another program holds), only the
    // transactions that did change the clipboard bring a notice. What SkipCount has not yet
    // swallowed of those is exactly what is still on its way; anything more would swallow the
    // user's next copies instead.
    struct Settle {
        TForm1& form;
        unsigned before;
        ~Settle() {
            const int committed = static_cast<int>(form.ClipboardAccess->Commits() - before);
            const int neverComing = kTransactions - std::min(committed, kTransactions);
            form.SkipCount = static_cast<std::uint8_t>(std::max(0, form.SkipCount - neverComing));
        }
    } settle{*this, before};
    ClipboardAccess->Clear();
    ClipboardAccess::Scope open(*ClipboardAccess);
    write();
}

void TForm1::LinkToBrowser(const std::string& url) {
    zumelko::LinkToBrowser(*DdeClientConv1, Browser, url, [](const std::string& notice) { Notice(notice); });
}

// --- Destination list and menus ------------------------------------------------------------

void TForm1::BuildDestinationList() {
    NetUtility1->Detect();
    for (int i = 0; i < NetUtility1->Count(); ++i) {
        auto& item = Create<MenuItem>();
        item.SetCaption(NetUtility1->MachineName(i));
        // Names come from whoever answers on the network: "A&B" is shown as it is written.
        item.SetLiteralCaption(true);
        item.OnClick = {this, &TForm1::DestinationItemClick};
        PopupMenu1->Add(item);
    }
    // For scripts that check what the menu offers: the captions as the menu now holds them.
    if (const char* log = std::getenv("ZUMELKO_LOG_DESTINATIONS"); log != nullptr && *log != '\0') {
        std::string line;
        for (std::size_t i = 2; i < PopupMenu1->Count(); ++i) line += (i > 2 ? "," : "") + PopupMenu1->Item(i).Caption();
        std::fprintf(stderr, "zumelko: destinations: %s\n", line.c_str());
    }
    ResolveAllowedSenders();
}

void TForm1::ResolveAllowedSenders() {
    allowedAddresses_.clear();
    if (SenderMode != KnownSenders) return;
    std::vector<std::string> names;
    for (int i = 0; i < NetUtility1->Count(); ++i) names.push_back(NetUtility1->MachineName(i));
    std::string name;
    for (const char c : AllowedNames + " ") {
        if (c == ' ' || c == ',' || c == '\t') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name.push_back(c);
        }
    }
    auto& sockets = platform::Current().sockets();
    for (const auto& n : names) {
        std::uint32_t addr = sockets.InetAddr(n);
        if (addr != platform::INADDR_NONE_ || sockets.GetHostByName(n, addr)) {
            allowedAddresses_.insert(addr);
        } else {
            std::fprintf(stderr, "zumelko: the allowed sender \"%s\" has no address now\n", n.c_str());
        }
    }
}

bool TForm1::SenderAllowed(std::uint32_t peer, int port) const {
    if (SenderMode != KnownSenders || allowedAddresses_.count(peer) != 0) return true;
    // The address is in network byte order: its first octet is its lowest byte in memory.
    const auto* octet = reinterpret_cast<const unsigned char*>(&peer);
    std::fprintf(stderr, "zumelko: dropped a packet on port %d from %u.%u.%u.%u, which may not send\n", port,
                 octet[0], octet[1], octet[2], octet[3]);
    return false;
}

void TForm1::UpdateThisList1Click(Component*) {
    // The count still describes the previous enumeration, so it equals the machine entries.
    const int old = NetUtility1->Count();
    for (int i = 0; i < old && PopupMenu1->Count() > 2; ++i) {
        MenuItem& entry = PopupMenu1->Item(2);
        PopupMenu1->Remove(2);
        DestroyComponent(entry);
    }
    BuildDestinationList();
}

void TForm1::DestinationItemClick(Component* sender) {
    if (auto* item = dynamic_cast<MenuItem*>(sender)) SendTo(sender, item->Caption());
}

void TForm1::Customize1Click(Component*) {
    Form4->SetSenders(SenderMode, AllowedNames);
    if (Form4->ShowSettings(DefaultDestination, CheckerMode, ReceiveMode, Browser) != mrOk) return;
    DefaultDestination = Form4->Destination;
    Browser = Form4->Browser;
    CheckerMode = static_cast<std::uint8_t>(Form4->RadioGroup1->ItemIndex());
    ReceiveMode = static_cast<std::uint8_t>(Form4->RadioGroup2->ItemIndex());
    SenderMode = static_cast<std::uint8_t>(Form4->RadioGroup3->ItemIndex());
    AllowedNames = Form4->AllowedNames;
    ResolveAllowedSenders();
}

void TForm1::About1Click(Component*) { AboutBox->ShowAbout(); }

void TForm1::Exit1Click(Component*) { App().Terminate(); }

}  // namespace zumelko
