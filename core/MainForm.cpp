#include "core/MainForm.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "core/AllowedSenders.h"
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
#include "transport/WireText.h"
#include "framework/Error.h"
#include "transport/tls/TlsContext.h"
#include "framework/Wipe.h"
#include "transport/ReceiveBudget.h"
#include "transport/SecureTcp.h"

namespace zumelko {

TForm1* Form1 = nullptr;

// A received item on its way to its question: the header it came under, what it holds (a text,
// or a picture read but not yet made for the display), and its sender's connection, held open
// until the question is answered.
struct TForm1::ReceivedItem {
    Header header;
    std::uint8_t mode = IndividualSelection;
    SharedText text;
    std::unique_ptr<BitmapImage> picture;
    std::size_t bytes = 0;
    ItemSecurity security;
    THeldConnection connection;
    TSecureHeld secureConnection;
};

// An item on its way out over the encrypted channel: where to, and its header for a plain send
// should the secure port be unreachable.
struct TForm1::PendingSend {
    std::string destination;
    StringList header;
    bool secret = false;
};

namespace {

void ReportRefusedText(std::size_t length) {
    std::fprintf(stderr, "zumelko: refused a received text of %zu bytes; texts are taken up to %zu bytes\n", length,
                 kMaxReceivedText);
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
    Packet1->OnAdmit = {this, &TForm1::PacketAdmit};
    Packet1->OnReceived = {this, &TForm1::Packet1Received};
    Packet1->OnSended = {this, &TForm1::Packet1Sended};
    Packet1->OnError = {this, &TForm1::Packet1Error};
    Packet2 = &Create<TSimpleTcp>();
    Packet2->SetName("Packet2");
    Packet2->SetPort(8001);
    Packet2->OnAdmit = {this, &TForm1::PacketAdmit};
    Packet2->OnAnnounced = {this, &TForm1::Packet2Announced};
    Packet2->OnReceived = {this, &TForm1::Packet2Received};
    Packet2->OnSended = {this, &TForm1::Packet2Sended};
    Packet2->OnError = {this, &TForm1::Packet2Error};
    Tls = std::make_unique<tls::TlsContext>();
    Secure1 = &Create<TSecureTcp>(*Tls);
    Secure1->SetName("Secure1");
    Secure1->SetPort(TSecureTcp::kDefaultPort);
    Secure1->SetMaxHeaderSize(kMaxHeaderSize);
    Secure1->OnAdmit = {this, &TForm1::PacketAdmit};
    Secure1->OnHeader = {this, &TForm1::SecureHeader};
    Secure1->OnAnnounced = {this, &TForm1::SecureAnnounced};
    Secure1->OnReceived = {this, &TForm1::SecureReceived};
    Secure1->OnSended = {this, &TForm1::SecureSended};
    Secure1->OnSendFailed = {this, &TForm1::SecureSendFailed};
    Secure1->OnError = {this, &TForm1::SecureError};
    // What the data port and the encrypted port hold of arriving items counts against one
    // ceiling: connections spread over both get no more memory than on one.
    const auto budget = std::make_shared<ReceiveBudget>(Packet2->MaxPacketSize());
    Packet2->ShareBudget(budget);
    Secure1->ShareBudget(budget);

    NetUtility1 = &Create<TNetUtility>();
    NetUtility1->SetName("NetUtility1");
    DdeClientConv1 = &Create<TDdeClientConv>();
    DdeClientConv1->SetName("DdeClientConv1");
    AllowedSenders1 = &Create<TAllowedSenders>();
    AllowedSenders1->SetName("AllowedSenders1");
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
    Secure1->Listen();
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
    if (CheckerMode != AskDestination && CheckerMode != UseDefault) return;
    if (!ForwardSecrets && ClipboardSecret()) {
        SecretKept();
        return;
    }
    // Whatever is sent from here on was asked for by no one: a password copied meanwhile (while
    // the chooser or the announcement is open) is still kept.
    struct Automatic {
        bool& flag;
        explicit Automatic(bool& f) : flag(f) { flag = true; }
        ~Automatic() { flag = false; }
    };
    switch (CheckerMode) {
        case AskDestination: {
            Form8->Label1->SetCaption("どこへ送信しますか？");
            if (Form8->ShowChooser(DefaultDestination) != mrOk) return;
            const std::string destination = Form8->ComboBox1->Text();
            if (destination.empty()) {
                Notice(kNoDefaultDestination);
                return;
            }
            Automatic automatic(automatic_);
            SendTo(this, destination);
            break;
        }
        case UseDefault: {
            if (DefaultDestination.empty()) {
                Notice(kNoDefaultDestination);
                return;
            }
            Notice("ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"" + platform::Current().ui().CaptionText(DefaultDestination) + "\"に送信します。");
            Automatic automatic(automatic_);
            SendToDefault();
            break;
        }
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

bool TForm1::ClipboardSecret() {
    ClipboardAccess::Scope open(*ClipboardAccess);
    return ClipboardAccess->IsSecret();
}

void TForm1::SecretKept() {
    std::fprintf(stderr, "zumelko: a copy marked as a password was not forwarded (--forward-secrets forwards such "
                         "copies; the menu still sends it on request)\n");
    TaskBar1->SetTips(platform::Current().ui().Texts().Utf8ToLocal(kSecretKept));
    tipTellsKept_ = true;
}

void TForm1::SendTo(Component*, const std::string& destination) {
    if (destination.empty()) return;
    Packet1->SetHostName(destination);
    Packet2->SetHostName(destination);
    const char* type = nullptr;
    if (ClipboardAccess->HasFormat(platform::CF_TEXT_)) {
        type = "string";
    } else if (ClipboardAccess->HasFormat(platform::CF_BITMAP_)) {
        type = "bitmap";
    } else {
        ShowUnsupportedFormat();
        return;
    }
    // A password is sent only under a header that says so; and by itself only when the user
    // chose to have such copies forwarded.
    const bool secret = ClipboardSecret();
    if (secret && automatic_ && !ForwardSecrets) {
        SecretKept();
        return;
    }
    // The tip tells of a kept password until the next copy is sent.
    if (std::exchange(tipTellsKept_, false)) TaskBar1->SetTips("");
    const platform::TextCodec& texts = platform::Current().ui().Texts();
    StringList header;
    MakeHeader(texts, type, texts.LocalToUtf8(NetUtility1->UserName()), texts.LocalToUtf8(NetUtility1->ComputerName()),
               header, secret);
    if (SendSecurely(destination, header, secret)) return;
    if (PlainForbidden()) {
        Notice(kNetworkError + std::string("TLS is not available on this desktop"));
        return;
    }
    plainSecret_ = secret;
    Packet1->SendStrings(header);
}

bool TForm1::PlainForbidden() const {
    if (Tls->Passphrase()) return true;
    return StrictMode;
}

// Whether the destination announces the encrypted channel in its DNS-SD record: such a machine
// is never sent to in plain, whatever happens to its secure port on the way.
bool TForm1::AnnouncedSecure(const std::string& destination) const { return NetUtility1->AnnouncesSecure(destination); }

bool TForm1::SecuredBefore(const std::string& destination, std::uint32_t address) const {
    return keys_.Secured({PeerKeys::Name(destination), PeerKeys::Address(address)});
}

bool TForm1::SendSecurely(const std::string& destination, const StringList& header, bool secret) {
    pending_ = std::make_unique<PendingSend>();
    pending_->destination = destination;
    pending_->header.SetText(header.Text());
    pending_->secret = secret;
    // The clipboard is read once the connection is secure, as the plain send reads it once its
    // header is taken: what goes out is what it holds at that moment.
    Secure1->SendItem(destination, header.Text(), [this, secret] {
        MemoryStream data;
        std::string text;
        BitmapImage picture;
        const Taken taken = TakeClipboard(text, picture);
        // A password copied since the header went out is not sent under a header without the mark.
        if (taken == Taken::Nothing || (taken == Taken::Secret && !secret)) {
            pending_.reset();
            Secure1->CancelSend();
            if (taken == Taken::Nothing) {
                // Nothing this program sends any more: the item is given up, as the plain send
                // gives up its data.
                ShowUnsupportedFormat();
            } else {
                SecretKept();
            }
            return data;
        }
        if (picture.Empty()) {
            const std::string payload = TextPayload(platform::Current().ui().Texts(), text);
            data.Reserve(payload.size() + 1);
            data.Write(payload.data(), payload.size());
            const char nul = '\0';
            data.Write(&nul, 1);
        } else {
            picture.WriteToStream(data);
        }
        return data;
    });
    return true;
}

void TForm1::SecureSendFailed(Component*, TSecureFailure kind, const std::string& message) {
    std::unique_ptr<PendingSend> pending = std::move(pending_);
    // Only a port that nothing answered on may be passed over for the plain one; a peer that
    // answered there and failed the handshake (or was stopped from answering) is never sent
    // to in plain.
    // Nor is a peer whose name or address took or sent an encrypted item in this run: its secure
    // port going silent (reset, or its announcement withdrawn) is what a machine in the way
    // would bring about to have the item in plain.
    if (pending && kind == TSecureFailure::Unreachable && !PlainForbidden() && !AnnouncedSecure(pending->destination) &&
        !SecuredBefore(pending->destination, Secure1->SendPeerAddress())) {
        Packet1->SetHostName(pending->destination);
        Packet2->SetHostName(pending->destination);
        plainSecret_ = pending->secret;
        Packet1->SendStrings(pending->header);
        return;
    }
    if (pending && kind == TSecureFailure::Unreachable &&
        SecuredBefore(pending->destination, Secure1->SendPeerAddress()))
        std::fprintf(stderr, "zumelko: not sending to %s in plain: it went encrypted in this run (%s)\n",
                     pending->destination.c_str(), message.c_str());
    Notice(kNetworkError + message);
}

void TForm1::SecureSended(Component*) {
    const std::unique_ptr<PendingSend> pending = std::move(pending_);
    ItemSecurity security;
    security.encrypted = true;
    security.checkCode = Secure1->SendCheckCode();
    security.passphrase = Secure1->SendPassphraseAuthenticated();
    // Keyed by the name the user gave and the address it led to.
    security.key = keys_.Note(
        {PeerKeys::Name(pending ? pending->destination : ""), PeerKeys::Address(Secure1->SendPeerAddress())}, {},
        Secure1->SendPeerFingerprint());
    // Beside the receiver's line in its log, so that the two ends can be compared from a script.
    std::fprintf(stderr, "zumelko: sent encrypted to %s, check code %s%s; %s\n",
                 pending ? pending->destination.c_str() : "?", security.checkCode.c_str(),
                 security.passphrase ? ", team passphrase" : "", KeyLogText(*security.key));
    Notice(kTransferDone + SecurityNotice(security));
}

void TForm1::SecureError(Component* sender, const std::string& message) {
    if (constructing_) {
        StartupError(sender, message);
        return;
    }
    Notice(kNetworkError + message);
}

void TForm1::ShowUnsupportedFormat() { Notice(kUnsupportedFormat); }

void TForm1::Packet1Sended(Component*) {
    // The clipboard is read again now: what goes out is what it holds at this moment, unless it
    // is a password and the header that went out did not say so.
    std::string text;
    BitmapImage picture;
    const Taken taken = TakeClipboard(text, picture);
    if (taken == Taken::Nothing) {
        ShowUnsupportedFormat();
    } else if (taken == Taken::Secret && !plainSecret_) {
        SecretKept();
    } else if (picture.Empty()) {
        Packet2->SendString(TextPayload(platform::Current().ui().Texts(), text));
    } else {
        Packet2->SendGraphic(picture);
    }
}

TForm1::Taken TForm1::TakeClipboard(std::string& text, BitmapImage& picture) {
    const bool isText = ClipboardAccess->HasFormat(platform::CF_TEXT_);
    if (!isText && !ClipboardAccess->HasFormat(platform::CF_BITMAP_)) return Taken::Nothing;
    ClipboardAccess::Scope open(*ClipboardAccess);
    // The marks are looked at before and after the data: a password copied while it was read
    // is not taken for the copy before it.
    bool secret = ClipboardAccess->IsSecret();
    if (isText) {
        text = ClipboardAccess->GetUnicodeText();
    } else {
        ClipboardAccess->GetBitmap(picture);
    }
    secret = ClipboardAccess->IsSecret() || secret;
    return secret ? Taken::Secret : Taken::Item;
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

void TForm1::PacketAdmit(Component* sender, std::uint32_t peer, bool& accept) {
    // Turned away at the door: a refused sender holds no place and no buffer, and its reset
    // tells its program that nothing was delivered.
    if (auto* channel = dynamic_cast<TSimpleTcp*>(sender)) {
        if (PlainForbidden()) {
            std::fprintf(stderr, "zumelko: refused a plain connection on port %d: only encrypted items are taken\n",
                         channel->Port());
            accept = false;
            return;
        }
        accept = SenderAllowed(peer, channel->Port());
    }
    if (auto* channel = dynamic_cast<TSecureTcp*>(sender)) accept = SenderAllowed(peer, channel->Port());
}

namespace {

// Recent senders whose headers are kept; a sender sends its data right after its header, so
// only the last few matter.
constexpr std::size_t kHeadersKept = 32;

std::string Dotted(std::uint32_t peer) { return DottedAddress(peer); }

}  // namespace

void TForm1::Packet1Received(Component*) {
    // Looked at again for a setting changed while the packet was on its way. A refused header
    // changes nothing: it cannot relabel an allowed sender's data either.
    if (PlainForbidden() || !SenderAllowed(Packet1->PeerAddress(), Packet1->Port())) return;
    StringList lines;
    Packet1->GetStrings(lines);
    const Header header = ReadHeaderLines(lines);
    NoteHeader(header);
    // Kept per address as well, so that data from one sender is never taken under the header
    // another sent in between.
    const std::uint32_t peer = Packet1->PeerAddress();
    std::erase_if(headers_, [peer](const auto& kept) { return kept.first == peer; });
    if (headers_.size() >= kHeadersKept) headers_.erase(headers_.begin());
    headers_.emplace_back(peer, header);
}

void TForm1::NoteHeader(const Header& header) {
    RecvType = header.type;
    RecvUser = header.user;
    RecvMachine = header.machine;
    RecvCodePage = header.codePage;
    RecvSecret = header.secret;
}

TForm1::Header TForm1::ReadHeaderLines(const StringList& lines) const {
    // A short header leaves the missing lines empty.
    const ReceivedHeader read = ReadHeader(platform::Current().ui().Texts(), lines);
    return Header{read.type, read.user, read.machine, read.codePage, read.secret};
}

TForm1::Header TForm1::HeaderFrom(std::uint32_t peer) const {
    for (const auto& [address, header] : headers_)
        if (address == peer) return header;
    return {RecvType, RecvUser, RecvMachine, RecvCodePage, RecvSecret};
}

std::string TForm1::SenderLine(const Header& header) const {
    return "\"" + header.machine + "\" にいる \"" + header.user + "\" から";
}

template <typename Channel>
std::optional<SharedText> TForm1::ReceivedText(Channel& channel, int codePage) {
    // A text announced under another header and then relabelled by a newer one got past the
    // check at its length field; and a text in a code page grows on its way to UTF-8.
    const SharedText received = channel.TakeString();
    auto text = ReadTextPayload(platform::Current().ui().Texts(), received, codePage, kMaxReceivedText - 1);
    if (!text) ReportRefusedText(received.Size() + 1);
    return text;
}

bool TForm1::Asks(const Header& header) const {
    if (ReceiveMode == IndividualSelection) return header.type == "string" || header.type == "bitmap";
    if (ReceiveMode == UrlAutoLink) return header.type == "string";
    return false;
}

bool TForm1::RoomToWait(std::size_t bytes, std::uint32_t peer) const {
    // Waiting items together hold no more than one packet may, so the queue costs at most what
    // one more arriving packet would.
    const std::size_t ceiling = Packet2->MaxPacketSize();
    if (waiting_.size() < kMaxWaitingItems && bytes <= ceiling - std::min(waitingBytes_, ceiling)) return true;
    std::fprintf(stderr,
                 "zumelko: refused an item of %zu bytes from %s: %zu items (%zu bytes) already wait for an answer\n",
                 bytes, Dotted(peer).c_str(), waiting_.size(), waitingBytes_);
    return false;
}

template <typename Channel>
std::unique_ptr<TForm1::ReceivedItem> TForm1::TakeItem(Channel& channel, const Header& header) {
    auto item = std::make_unique<ReceivedItem>();
    item->header = header;
    item->mode = ReceiveMode;
    switch (ReceiveMode) {
        case IndividualSelection:
            if (header.type == "string") {
                // Taken out of the channel, not copied: the dialog shares these bytes, and the
                // clipboard's copy is the only other one.
                auto text = ReceivedText(channel, header.codePage);
                if (!text) return nullptr;
                item->text = std::move(*text);
                item->bytes = item->text.Size() + 1;
                return item;
            }
            if (header.type == "bitmap") {
                item->picture = std::make_unique<BitmapImage>();
                try {
                    channel.GetGraphic(*item->picture);
                } catch (const std::exception&) {
                    // Not a picture this program can read: nothing to offer or import.
                    ShowUnsupportedFormat();
                    return nullptr;
                }
                if (item->picture->Empty()) {
                    ShowUnsupportedFormat();
                    return nullptr;
                }
                item->bytes = channel.PacketSize();
                return item;
            }
            ShowUnsupportedFormat();
            return nullptr;
        case UrlAutoLink:
            if (header.type == "string") {
                auto text = ReceivedText(channel, header.codePage);
                if (!text) return nullptr;
                // A password is no address to open: it is offered for the clipboard instead.
                if (header.secret) item->mode = IndividualSelection;
                item->text = std::move(*text);
                item->bytes = item->text.Size() + 1;
                return item;
            }
            if (header.type == "bitmap") {
                BitmapImage picture;
                try {
                    channel.GetGraphic(picture);
                } catch (const std::exception&) {
                    return nullptr;
                }
                Notice(kPictureDiscarded);
            }
            return nullptr;
        default:
            // Asleep: the packet is not even read.
            return nullptr;
    }
}

bool TForm1::ProvesPassphrase(const ItemSecurity& security, const Header& header) const {
    if (!HasPassphrase()) return true;
    if (security.encrypted && security.passphrase && security.passphraseGeneration == Tls->PassphraseGeneration())
        return true;
    std::fprintf(stderr, "zumelko: refused an item from \"%s\": it did not come with the team passphrase now set\n",
                 Printable(header.machine).c_str());
    return false;
}

ItemSecurity TForm1::SecureItemSecurity() const {
    ItemSecurity security;
    security.encrypted = true;
    security.checkCode = Secure1->CheckCode();
    security.passphrase = Secure1->PassphraseAuthenticated();
    security.passphraseGeneration = Secure1->PassphraseGeneration();
    return security;
}

void TForm1::RefuseUnproven() {
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        ReceivedItem& item = **it;
        if (ProvesPassphrase(item.security, item.header)) {
            ++it;
            continue;
        }
        item.connection.Refuse();
        item.secureConnection.Refuse();
        waitingBytes_ -= std::min(waitingBytes_, item.bytes);
        it = waiting_.erase(it);
    }
}

void TForm1::Ask(ReceivedItem& item) {
    // The passphrase may have been set since the item arrived, or while its question was open.
    auto proven = [&] {
        if (ProvesPassphrase(item.security, item.header)) return true;
        item.connection.Refuse();
        item.secureConnection.Refuse();
        return false;
    };
    if (!proven()) return;
    RecvSecurity = item.security;
    if (item.mode == UrlAutoLink) {
        std::string browserName;
        if (Browser == NetscapeNavigator) browserName = "Netscape Navigater";
        if (Browser == InternetExplorer) browserName = "Internet Explorer";
        Form3->Label3->SetCaption(SenderLine(item.header));
        Form3->Label4->SetCaption(SecurityLine(RecvSecurity));
        // The browser is handed the address in the desktop's own form.
        if (Form3->ShowQuestion(browserName + "にリンクしますか？") == mrYes && proven())
            LinkToBrowser(platform::Current().ui().Texts().Utf8ToLocal(item.text.View()));
        return;
    }
    const bool secret = item.header.secret;
    if (secret)
        std::fprintf(stderr, "zumelko: the item from \"%s\" is marked as a password: not shown, and marked so on the clipboard\n",
                     Printable(item.header.machine).c_str());
    if (!item.picture) {
        Form5->Label3->SetCaption(SenderLine(item.header));
        Form5->Label4->SetCaption(SecurityLine(RecvSecurity));
        if (Form5->ShowTextReceived(item.text, secret) == mrYes && proven())
            TakeIntoClipboard([&] { ClipboardAccess->SetUnicodeText(item.text); }, secret);
        return;
    }
    BitmapImage& picture = *item.picture;
    try {
        // A picture the display cannot make could be neither previewed nor put on the
        // clipboard; found out now, before the user is asked for it.
        (void)picture.Handle();
    } catch (const std::exception&) {
        ShowUnsupportedFormat();
        return;
    }
    Form5->Label3->SetCaption(SenderLine(item.header));
    Form5->Label4->SetCaption(SecurityLine(RecvSecurity));
    if (Form5->ShowBitmapReceived(picture, secret) == mrYes && proven())
        TakeIntoClipboard([&] { ClipboardAccess->PutBitmap(picture); }, secret);
}

void TForm1::AskInTurn(std::unique_ptr<ReceivedItem> item) {
    // Items that arrive while a question is open wait here instead of asking from within its
    // nested loop, so questions never pile up inside each other, however many arrive.
    asking_ = true;
    struct Done {
        TForm1& form;
        ~Done() { form.asking_ = false; }
    } done{*this};
    while (item) {
        try {
            Ask(*item);
        } catch (const std::exception& e) {
            // One item's failure is reported as any handler's is; the items after it are still
            // asked about.
            if (Application* app = CurrentApplication()) {
                app->HandleException(this, e);
            } else {
                throw;
            }
        }
        // Answered: its sender now hears that the item was taken.
        item.reset();
        if (const Application* app = CurrentApplication(); app != nullptr && app->Terminated()) {
            // Quitting: nothing more is asked, and every waiting sender is let go.
            waiting_.clear();
            waitingBytes_ = 0;
            break;
        }
        if (waiting_.empty()) break;
        item = std::move(waiting_.front());
        waiting_.pop_front();
        waitingBytes_ -= std::min(waitingBytes_, item->bytes);
    }
}

template <typename Channel>
void TForm1::ItemArrived(Channel& channel, const Header& header, const ItemSecurity& security) {
    // No room to wait: refused before anything is taken (or a picture read), and its
    // connection closes as the handler returns.
    if (asking_ && Asks(header) && !RoomToWait(channel.PacketSize(), channel.PeerAddress())) return;
    std::unique_ptr<ReceivedItem> item = TakeItem(channel, header);
    if (!item) return;
    item->security = security;
    bool held = false;
    if constexpr (std::is_same_v<Channel, TSimpleTcp>) {
        item->connection = channel.Hold();
        held = static_cast<bool>(item->connection);
    } else {
        item->secureConnection = channel.Hold();
        held = static_cast<bool>(item->secureConnection);
    }
    if (asking_) {
        if (!held) return;
        waitingBytes_ += item->bytes;
        waiting_.push_back(std::move(item));
        return;
    }
    AskInTurn(std::move(item));
}

template <typename Channel>
bool TForm1::ItemAnnounced(Channel& channel, const Header& header, std::size_t length) {
    // Every packet is announced before it is delivered: a refused one is never held.
    if (!SenderAllowed(channel.PeerAddress(), channel.Port())) return false;
    // An item that would have to wait is refused now if there is no room for it, before any of
    // it is held; its sender's connection is reset.
    if (asking_ && Asks(header) && !RoomToWait(length, channel.PeerAddress())) return false;
    if (header.type == "bitmap" && ReceiveMode == IndividualSelection) {
        // Its image is made as soon as it has arrived: memory for it can be got ready meanwhile.
        platform::Current().gdi().PictureComing(length);
    }
    // Refused at the length field, before any of it is held. A header that arrives later may
    // still change what a plain packet is taken for; ItemArrived looks again.
    if (header.type != "string" || length <= kMaxReceivedText) return true;
    ReportRefusedText(length);
    return false;
}

void TForm1::Packet2Received(Component*) {
    if (PlainForbidden()) return;
    ItemArrived(*Packet2, HeaderFrom(Packet2->PeerAddress()), ItemSecurity{});
}

void TForm1::Packet2Announced(Component*, std::size_t length, bool& accept) {
    accept = !PlainForbidden() && ItemAnnounced(*Packet2, HeaderFrom(Packet2->PeerAddress()), length);
}

TForm1::Header TForm1::SecureItemHeader() const {
    StringList lines;
    Secure1->GetHeader(lines);
    return ReadHeaderLines(lines);
}

void TForm1::SecureHeader(Component*, bool& accept) {
    if (!SenderAllowed(Secure1->PeerAddress(), Secure1->Port())) {
        accept = false;
        return;
    }
    const Header header = SecureItemHeader();
    if (!ProvesPassphrase(SecureItemSecurity(), header)) {
        accept = false;
        return;
    }
    // The data comes on the same connection: it is read under this header, whatever other
    // headers arrive meanwhile.
    NoteHeader(header);
}

void TForm1::SecureAnnounced(Component*, std::size_t length, bool& accept) {
    const Header header = SecureItemHeader();
    accept = ProvesPassphrase(SecureItemSecurity(), header) && ItemAnnounced(*Secure1, header, length);
}

void TForm1::SecureReceived(Component*) {
    ItemSecurity security = SecureItemSecurity();
    const Header header = SecureItemHeader();
    // Looked at again: the passphrase may have been set while the data arrived.
    if (!ProvesPassphrase(security, header)) {
        Secure1->Refuse();
        return;
    }
    // The address proved it speaks TLS. The machine name is only the sender's claim, yet worth
    // keying by: a key change under a name the user knows is what to show. Marked as secured it
    // keeps that name from plain sends in this run: a claimant costs a classic peer of that name
    // its plain items (which someone on the network could stop anyway), and a name lookup that
    // is answered with another address cannot take the item in plain.
    security.key = keys_.Note({PeerKeys::Address(Secure1->PeerAddress())}, {PeerKeys::Name(header.machine)},
                              Secure1->PeerFingerprint());
    // In the log as well, for whoever compares codes from a script.
    std::fprintf(stderr, "zumelko: encrypted item from %s, check code %s%s; %s\n",
                 Dotted(Secure1->PeerAddress()).c_str(), security.checkCode.c_str(),
                 security.passphrase ? ", team passphrase" : "", KeyLogText(*security.key));
    ItemArrived(*Secure1, header, security);
}

void TForm1::TakeIntoClipboard(const std::function<void()>& write, bool secret) {
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
    // In the same transaction as the data, so that no clipboard history sees it unmarked.
    if (secret) ClipboardAccess->MarkSecret();
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
        // And those whose DNS-SD record says they take the encrypted channel, with its port.
        std::string secure;
        for (std::size_t i = 2; i < PopupMenu1->Count(); ++i) {
            const std::string& name = PopupMenu1->Item(i).Caption();
            if (const int port = NetUtility1->SecurePort(name))
                secure += (secure.empty() ? "" : ",") + name + ":" + std::to_string(port);
        }
        std::fprintf(stderr, "zumelko: encrypted: %s\n", secure.c_str());
    }
    ResolveAllowedSenders();
}

void TForm1::ResolveAllowedSenders() {
    std::vector<std::string> names;
    if (SenderMode == KnownSenders) {
        // What the option's label promises: the workgroup's machines and the added names. A
        // machine found by discovery is offered as a destination but may not send for being
        // found: anyone on the network can announce any name.
        for (int i = 0; i < NetUtility1->WorkgroupCount(); ++i) names.push_back(NetUtility1->MachineName(i));
        std::string name;
        for (const char c : AllowedNames + " ") {
            if (c == ' ' || c == ',' || c == '\t') {
                if (!name.empty()) names.push_back(name);
                name.clear();
            } else {
                name.push_back(c);
            }
        }
    }
    AllowedSenders1->SetNames(names);
}

bool TForm1::SenderAllowed(std::uint32_t peer, int port) const {
    if (SenderMode != KnownSenders || AllowedSenders1->Allows(peer)) return true;
    std::fprintf(stderr, "zumelko: dropped a packet on port %d from %s, which may not send\n", port,
                 Dotted(peer).c_str());
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
    Form4->SetSecurity(HasPassphrase(), StrictMode);
    const int answer = Form4->ShowSettings(DefaultDestination, CheckerMode, ReceiveMode, Browser);
    // Taken out of the field whatever the answer: the typed passphrase does not stay there, nor
    // here once its key is made.
    std::optional<std::string> passphrase = Form4->TakePassphrase();
    struct Wiped {
        std::optional<std::string>& text;
        ~Wiped() {
            if (text) WipeString(*text);
        }
    } wiped{passphrase};
    if (answer != mrOk) return;
    StrictMode = Form4->RadioGroup5->ItemIndex() == 1;
    DefaultDestination = Form4->Destination;
    Browser = Form4->Browser;
    CheckerMode = static_cast<std::uint8_t>(Form4->RadioGroup1->ItemIndex());
    ReceiveMode = static_cast<std::uint8_t>(Form4->RadioGroup2->ItemIndex());
    SetSenders(static_cast<std::uint8_t>(Form4->RadioGroup3->ItemIndex()), Form4->AllowedNames);
    // Last, as it takes a moment (the key is derived on purpose slowly).
    if (passphrase && (!passphrase->empty() || HasPassphrase())) SetPassphrase(*passphrase);
}

void TForm1::SetSenders(std::uint8_t mode, const std::string& names) {
    SenderMode = mode;
    AllowedNames = names;
    ResolveAllowedSenders();
}

void TForm1::About1Click(Component*) { AboutBox->ShowAbout(); }

void TForm1::Exit1Click(Component*) { App().Terminate(); }

bool TForm1::HasPassphrase() const {
    return Tls && Tls->Passphrase().has_value();
}

void TForm1::SetPassphrase(const std::string& utf8) {
    if (!Tls) throw Error("暗号化を使えません");
    if (utf8.empty()) {
        Tls->ClearPassphrase();
        return;
    }
    Tls->SetPassphraseKey(tls::DerivePassphraseKey(utf8));
    RefuseUnproven();
}

std::string SecurityLine(const ItemSecurity& security) {
    if (!security.encrypted) return kUnencryptedLine;
    // The code comes from the session, but it is shown only as the digits and blanks it should be.
    std::string code;
    for (const char c : security.checkCode)
        if ((c >= '0' && c <= '9') || c == ' ') code += c;
    std::string line = (security.passphrase ? kPassphraseLine : kEncryptedLine) + code;
    // On a line of its own in the question, whose width is fixed.
    if (security.key) line += std::string("\n") + KeyText(*security.key);
    return line;
}

const char* KeyText(KeyState state) {
    switch (state) {
        case KeyState::Same: return kKeySame;
        case KeyState::First: return kKeyFirst;
        case KeyState::Changed: return kKeyChanged;
        case KeyState::Unknown: break;
    }
    return kKeyUnknown;
}

const char* KeyLogText(KeyState state) {
    switch (state) {
        case KeyState::Same: return "same key as last time";
        case KeyState::First: return "first key seen from this peer in this run";
        case KeyState::Changed: return "KEY CHANGED since the last item: compare the check codes";
        case KeyState::Unknown: break;
    }
    return "key unknown";
}

std::string SecurityNotice(const ItemSecurity& security) {
    if (!security.encrypted) return "";
    // On the notice's one line: the notice grows wider, not taller.
    ItemSecurity codeOnly = security;
    codeOnly.key.reset();
    std::string line = "  " + SecurityLine(codeOnly);
    if (security.key) line += std::string("  ") + KeyText(*security.key);
    return line;
}

}  // namespace zumelko
