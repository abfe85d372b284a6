#pragma once
// The hidden main window: holds the settings, sends the clipboard on a change or on command,
// receives headers and data, keeps the destination list and the two tray menus.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/PeerKeys.h"
#include "framework/Form.h"
#include "framework/SharedText.h"
#include "framework/Menus.h"
#include "framework/StringList.h"

namespace zumelko {

class ClipboardAccess;
class TClipboardViewer;
class TTaskBar;
class TSimpleTcp;
class TSecureTcp;
class TNetUtility;
class TDdeClientConv;
class TAllowedSenders;
class BitmapImage;
enum class TSecureFailure;

namespace tls {
class TlsContext;
}

// How a received item came: over the encrypted channel (with the check code both ends compute
// from the session, and whether the team passphrase authenticated the peer) or over the plain
// one.
// The peer's key is compared with the one last used under its name or address in this run;
// nothing is said of it where no comparison was made.
struct ItemSecurity {
    bool encrypted = false;
    std::string checkCode;
    bool passphrase = false;
    std::optional<KeyState> key = std::nullopt;
    // Which passphrase it proved: the context's PassphraseGeneration when its session began.
    std::uint64_t passphraseGeneration = 0;
};

enum CheckerModes : std::uint8_t { AskDestination = 0, UseDefault = 1, NoCheck = 2 };
enum ReceiveModes : std::uint8_t { IndividualSelection = 0, UrlAutoLink = 1, SleepMode = 2 };
enum SenderModes : std::uint8_t { AnySender = 0, KnownSenders = 1 };
enum Browsers : std::int32_t { NetscapeNavigator = 0, InternetExplorer = 1 };

class TForm1 final : public Form {
public:
    explicit TForm1(Component* owner);
    ~TForm1() override;

    // Sending.
    void ClipboardViewer1ChangeData(Component* sender);
    void TransmitData1Click(Component* sender);
    void SendToDefault();
    void SendTo(Component* sender, const std::string& destination);
    void ShowUnsupportedFormat();
    void Packet1Sended(Component* sender);
    void Packet2Sended(Component* sender);
    void Packet1Error(Component* sender, const std::string& message);
    void Packet2Error(Component* sender, const std::string& message);

    // Receiving.
    void PacketAdmit(Component* sender, std::uint32_t peer, bool& accept);
    void Packet1Received(Component* sender);
    void Packet2Received(Component* sender);
    void Packet2Announced(Component* sender, std::size_t length, bool& accept);
    // The encrypted channel: a header, then the data on the same connection.
    void SecureHeader(Component* sender, bool& accept);
    void SecureAnnounced(Component* sender, std::size_t length, bool& accept);
    void SecureReceived(Component* sender);
    void SecureSended(Component* sender);
    void SecureError(Component* sender, const std::string& message);
    void LinkToBrowser(const std::string& url);

    // Destination list and menus.
    void BuildDestinationList();
    void UpdateThisList1Click(Component* sender);
    void DestinationItemClick(Component* sender);
    void Customize1Click(Component* sender);
    void About1Click(Component* sender);
    void Exit1Click(Component* sender);

    // Looks up the addresses of the machines that may send, when only some may: the
    // workgroup's machines (never those found by discovery, which anyone can announce) and the
    // names in AllowedNames. Returns at once; each address admits its sender once its answer
    // is in. Run whenever SenderMode, AllowedNames or the list change.
    void ResolveAllowedSenders();

    // A listener that could not start while the window was being built is reported once the
    // dialogs exist; the program goes on (it can still send).
    void ReportStartupErrors();
    // Who may send, as the settings dialog sets it: the names are looked up at once.
    void SetSenders(std::uint8_t mode, const std::string& names);

    PopupMenu* PopupMenu1;
    MenuItem* UpdateThisList1;
    MenuItem* N1;
    PopupMenu* PopupMenu2;
    MenuItem* TransmitData1;
    MenuItem* Customize1;
    MenuItem* N2;
    MenuItem* About1;
    MenuItem* Exit1;
    TClipboardViewer* ClipboardViewer1;
    TTaskBar* TaskBar1;
    TSimpleTcp* Packet1;
    TSimpleTcp* Packet2;
    // The encrypted channel (port 8002); null on a desktop built without the TLS layer.
    TSecureTcp* Secure1 = nullptr;
    TNetUtility* NetUtility1;
    TDdeClientConv* DdeClientConv1;
    TAllowedSenders* AllowedSenders1;

    // The program's state; the dialogs and tests reach it directly.
    std::unique_ptr<zumelko::ClipboardAccess> ClipboardAccess;
    // This instance's TLS identity and team key, made fresh at every start.
    std::unique_ptr<tls::TlsContext> Tls;
    // No plain transfers at all, neither sent nor received.
    bool StrictMode = false;
    std::string RecvType;
    // The sender's names in UTF-8, as shown.
    std::string RecvUser;
    std::string RecvMachine;
    // The code page the sender named in its header; 0 for a header of three lines, whose texts
    // are in the peers' code page.
    int RecvCodePage = 0;
    // The item the header announced is a password.
    bool RecvSecret = false;
    // How the item now asked about came; every item carries its own until it is asked about.
    ItemSecurity RecvSecurity;
    std::string DefaultDestination;
    std::int32_t Browser = NetscapeNavigator;
    std::uint8_t CheckerMode = NoCheck;
    std::uint8_t ReceiveMode = IndividualSelection;
    std::uint8_t SkipCount = 0;
    // Who may send: anyone, or only the workgroup's machines and the names in AllowedNames
    // (separated by blanks or commas). Off by default, as peers have always known it.
    std::uint8_t SenderMode = AnySender;
    std::string AllowedNames;
    // A copy a password manager marked is sent on a clipboard change too, as any other copy
    // (the --forward-secrets start option). Off: such a copy is only sent on the user's own
    // command (the default-destination item or a machine in the menu).
    bool ForwardSecrets = false;

    bool HasPassphrase() const;
    // Derives the team's key from the passphrase (UTF-8, the same bytes on every desktop) and
    // sets it for every session started from now on; empty clears it. The passphrase itself is
    // not kept. Slow on purpose (a tenth of a second or so): call it when the user changes it.
    void SetPassphrase(const std::string& utf8);

    // Items that arrived while a receive question was open, oldest first; each is asked about
    // in turn once the open question is answered, and its sender hears of it only then.
    std::size_t WaitingItems() const { return waiting_.size(); }
    // At most this many wait; more, or more bytes than one packet may have, are refused.
    static constexpr std::size_t kMaxWaitingItems = 8;

private:
    // What a header said: type tag, the sender's logon name and computer name.
    struct Header {
        std::string type;
        std::string user;
        std::string machine;
        // As RecvCodePage: 0 for three lines, in the peers' code page.
        int codePage = 0;
        // The item is a password: shown as such, and put on the clipboard with the marks.
        bool secret = false;
    };
    struct ReceivedItem;
    struct PendingSend;

    // The header for a data packet from this address: the last one that address sent, or the
    // last one received when it sent none.
    Header HeaderFrom(std::uint32_t peer) const;
    // Whether an item under this header is one the user is asked about in this receive state.
    bool Asks(const Header& header) const;
    // Room for one more waiting item of this many bytes; false (and a line in the log) when not.
    bool RoomToWait(std::size_t bytes, std::uint32_t peer) const;
    // Takes the data packet out of the channel as an item; nothing (after any notice) when
    // there is nothing to ask about.
    template <typename Channel>
    std::unique_ptr<ReceivedItem> TakeItem(Channel& channel, const Header& header);
    // What Packet2 and the encrypted channel share: a data packet's length field and the packet.
    template <typename Channel>
    bool ItemAnnounced(Channel& channel, const Header& header, std::size_t length);
    template <typename Channel>
    void ItemArrived(Channel& channel, const Header& header, const ItemSecurity& security);
    // The header now arriving becomes the one the receive state shows.
    void NoteHeader(const Header& header);
    // A header's lines as the program keeps them.
    Header ReadHeaderLines(const StringList& lines) const;
    // The header of the item on the encrypted channel's connection now reported.
    Header SecureItemHeader() const;
    // While a passphrase is set, only items whose session proved that very passphrase are
    // taken: not one begun before it was set, nor under another one, nor a plain one. False
    // (and a line in the log) for an item that did not.
    bool ProvesPassphrase(const ItemSecurity& security, const Header& header) const;
    ItemSecurity SecureItemSecurity() const;
    // Refuses the waiting items that no longer prove the passphrase; their senders are reset.
    void RefuseUnproven();
    // Asks about the item and acts on the answer.
    void Ask(ReceivedItem& item);
    // Asks about the item and then about every item that arrives meanwhile, one after another.
    void AskInTurn(std::unique_ptr<ReceivedItem> item);

    void StartupError(Component* sender, const std::string& message);
    // False (and a line in the log) for a connection or packet from a machine that may not send.
    bool SenderAllowed(std::uint32_t peer, int port) const;
    std::string SenderLine(const Header& header) const;
    // The received text in UTF-8, taken out of the channel and read in its header's code page;
    // nothing (and a line in the log) when it is over the ceiling.
    template <typename Channel>
    std::optional<SharedText> ReceivedText(Channel& channel, int codePage);

    // Sending over the encrypted channel first: the item is read from the clipboard now and
    // goes in one connection; the header is kept for a plain send when that is allowed.
    bool SendSecurely(const std::string& destination, const StringList& header, bool secret);
    // Whether the clipboard's content is marked as a password.
    bool ClipboardSecret();
    // Reads the clipboard's text (or, when it holds none, its picture) for sending, and whether
    // it is a password's.
    enum class Taken { Nothing, Item, Secret };
    Taken TakeClipboard(std::string& text, BitmapImage& picture);
    // A password's copy was not sent by itself: said in the tray tip and the log, not in a
    // dialog (the user did nothing that asked for one).
    void SecretKept();
    void SecureSendFailed(Component* sender, TSecureFailure kind, const std::string& message);
    // No plain transfer either way: strict mode, or a team passphrase set.
    bool PlainForbidden() const;
    // Whether the destination said on the network that it takes encrypted items.
    bool AnnouncedSecure(const std::string& destination) const;
    // Whether the destination's name, or the address it was found at, completed an encrypted
    // transfer in this run: such a peer speaks TLS, and a failure now is someone else's doing.
    bool SecuredBefore(const std::string& destination, std::uint32_t address) const;
    // Replaces the clipboard's contents with what write puts there, without forwarding them; a
    // password's with the desktop's marks beside it.
    void TakeIntoClipboard(const std::function<void()>& write, bool secret);
    MenuItem& AddItem(PopupMenu& menu, const char* name, const char* caption, void (TForm1::*click)(Component*));

    bool constructing_ = true;
    // The last header of each recent sender's address, most recent last.
    std::vector<std::pair<std::uint32_t, Header>> headers_;
    // A receive question is open (the items asked about in turn are being gone through).
    bool asking_ = false;
    std::deque<std::unique_ptr<ReceivedItem>> waiting_;
    std::size_t waitingBytes_ = 0;
    std::vector<std::string> startupErrors_;
    std::unique_ptr<PendingSend> pending_;
    // The send under way was started by a clipboard change (not by the user's command).
    bool automatic_ = false;
    // The plain send under way announced a password in its header.
    bool plainSecret_ = false;
    // The tray tip tells of a password kept.
    bool tipTellsKept_ = false;
    // The keys peers used in this run, by name and address.
    PeerKeys keys_;
};

extern TForm1* Form1;

// What the sender's notice adds to kTransferDone after a transfer: the check code (and the
// passphrase's word) for an encrypted one, nothing for a plain one.
std::string SecurityNotice(const ItemSecurity& security);

// The longest text payload (its NUL included) taken from a peer. A received text is held twice
// on its way to the clipboard (once as received, once by the clipboard), so this keeps a text
// within the cost of the largest picture packet the channel takes; no desktop copies texts of
// this size, and 256 MiB with room to spare still passes.
inline constexpr std::size_t kMaxReceivedText = std::size_t{512} << 20;

// A header is a type tag, a logon name and a computer name, a few dozen bytes. Anything near
// this size comes from no instance of the program, and split into lines it could take many
// times its size in memory.
inline constexpr std::size_t kMaxHeaderSize = 64 * 1024;

// Texts the main window shows.
inline constexpr const char* kNoDefaultDestination = "ﾃﾞﾌｫﾙﾄ送信先が未設定です。";
inline constexpr const char* kUnsupportedFormat = "本ﾊﾞｰｼﾞｮﾝではｻﾎﾟｰﾄされていない形式のﾃﾞｰﾀです。";
inline constexpr const char* kNotRunning = "起動されていない、もしくは受信中です。";
inline constexpr const char* kNetworkError = "ネットワークエラー ： ";
inline constexpr const char* kTransferDone = "データの転送が終了しました。";
inline constexpr const char* kPictureDiscarded = "\"画像\"データが送られてきたので、破棄します。";
// The tray tip after a password manager's copy was left unsent (63 bytes at most, as a tip).
inline constexpr const char* kSecretKept = "パスワードのコピーは転送しません";
// How an item came, under the sender's line in the receive question and in the sender's notice:
// the encrypted line ends with the check code ("0123 4567 8901").
inline constexpr const char* kEncryptedLine = "暗号化 ： 確認コード ";
inline constexpr const char* kPassphraseLine = "暗号化 (ﾊﾟｽﾌﾚｰｽﾞ認証) ： 確認コード ";
inline constexpr const char* kUnencryptedLine = "暗号化されずに届きました";
// After the code: how the peer's key compares with the one last used under its name or address
// in this run. Only the same key needs no new comparison of the codes.
inline constexpr const char* kKeySame = "前回と同じ鍵";
inline constexpr const char* kKeyFirst = "初めての鍵：確認コードを照合してください";
inline constexpr const char* kKeyChanged = "鍵が変わりました：確認コードを照合してください";
inline constexpr const char* kKeyUnknown = "鍵不明：確認コードを照合してください";
const char* KeyText(KeyState state);
// The same for the log, in English.
const char* KeyLogText(KeyState state);

// The line about how an item came, plain text.
std::string SecurityLine(const ItemSecurity& security);

}  // namespace zumelko
