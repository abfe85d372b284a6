// zumelko-send: the program's two packets from the command line. Sends a text, a text file or
// a picture to an instance and says whether it was taken, or receives like an instance and
// hands what comes to standard output or a file. No dialog, no clipboard: the desktop under the
// channel is the simulated one (its sockets are real); the picture reader is the Linux
// desktop's, and the names sent are this machine's.
#include <QImage>
#include <QImageReader>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "core/MainForm.h"
#include "transport/SocketComponents.h"
#include "desktop/BitmapImage.h"
#include "framework/Component.h"
#include "framework/StringList.h"
#include "framework/Wipe.h"
#include "platform/posix/PosixSecrets.h"
#include "platform/qt/Charset.h"
#include "platform/qt/SmbNetwork.h"
#include "platform/sim/SimDesktop.h"
#include "transport/ReceiveBudget.h"
#include "transport/SecureTcp.h"
#include "transport/SimpleTcp.h"
#include "transport/WireText.h"
#include "transport/tls/TlsContext.h"

namespace {

using zumelko::BitmapImage;
using zumelko::Component;
using zumelko::MemoryStream;
using zumelko::StringList;
using zumelko::TSimpleTcp;

constexpr int kHeaderPort = 8000;
constexpr int kDataPort = 8001;
constexpr int kSecurePort = zumelko::TSecureTcp::kDefaultPort;
// What an instance takes as a header; a larger one is no instance's.
constexpr std::size_t kMaxHeaderSize = 64 * 1024;

// Exit codes, so that scripts can tell a refusal of theirs from a failure on the way.
constexpr int kExitSent = 0;
constexpr int kExitNotDelivered = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadInput = 3;

// How long a send may take, connecting included, unless --timeout says otherwise.
constexpr int kDefaultTimeoutSeconds = 60;

constexpr const char* kHelp =
    "Usage:\n"
    "  zumelko-send HOST TEXT...           send a text (the words joined by single spaces)\n"
    "  zumelko-send HOST [-]               send the text read from standard input (without a\n"
    "                                      text, only when standard input is no terminal):\n"
    "                                      command | zumelko-send HOST\n"
    "  zumelko-send HOST --file FILE       send the contents of a text file (- is standard input)\n"
    "  zumelko-send HOST --image FILE      send a picture (PNG, JPEG, BMP, GIF... anything the\n"
    "                                      desktop's image reader knows), as a 24-bit BMP\n"
    "  zumelko-send --receive [--forever] [--dir DIR] [-0] [--pictures-to FILE]\n"
    "                                      wait for one item from another machine (or keep\n"
    "                                      waiting with --forever), encrypted or plain as an\n"
    "                                      instance takes it: a text goes to standard output, a\n"
    "                                      picture to a new BMP file in DIR (default: the\n"
    "                                      current folder) whose name is printed\n"
    "  zumelko-send --help | --version\n"
    "\n"
    "HOST is the machine name or address of a computer running Zumelko (or zumelko-send\n"
    "--receive). The item is sent as coming from your login name on this machine; the\n"
    "receiver decides whether to take it into its clipboard.\n"
    "\n"
    "Options:\n"
    "  --timeout SECONDS   give up a send that has not ended within SECONDS, connecting\n"
    "                      included (default 60; 0 waits as long as the system lets a\n"
    "                      connection wait). The receiving program keeps the connection\n"
    "                      while its user decides, so that time counts too\n"
    "  -0, --null          while receiving, end each text and each picture's file name\n"
    "                      with a NUL byte instead of a line break\n"
    "  --pictures-to FILE  while receiving, write the pictures' file names to FILE\n"
    "                      (appended) instead of standard output, which then holds texts\n"
    "                      only\n"
    "  --secret            mark the item as a password: Zumelko shows no preview of it,\n"
    "                      offers no link, and puts it on the clipboard with the marks\n"
    "                      that keep clipboard histories from keeping it (other programs\n"
    "                      get the plain item, without the mark); --receive says of each\n"
    "                      marked item \"the item is marked as a password\" on standard\n"
    "                      error\n"
    "  --strict            nothing unencrypted: send and take items only over the\n"
    "                      encrypted channel, and fail where a receiver cannot take it;\n"
    "                      --receive then does not listen on the plain ports at all\n"
    "  --passphrase-file FILE\n"
    "                      the team's passphrase, the first line of FILE (UTF-8; - reads it\n"
    "                      from standard input, then the text to send cannot come from\n"
    "                      there too); only peers that know it are sent to or taken from,\n"
    "                      and never unencrypted (--receive does not listen on the plain\n"
    "                      ports). ZUMELKO_PASSPHRASE in the environment does the same (the\n"
    "                      file wins); never give it on the command line\n"
    "  --port-offset N     use ports 8000+N, 8001+N and 8002+N (encrypted) instead of 8000,\n"
    "                      8001 and 8002 (both sides must agree; for trying things out on\n"
    "                      one machine)\n"
    "\n"
    "Exit status:\n"
    "  0  the receiving program handled the item: its user took it or declined it, or\n"
    "     the program dropped it (asleep); the packets carry no answer, so zumelko-send\n"
    "     cannot tell which\n"
    "  1  it was not delivered: no answer, a host that cannot be found, a broken or reset\n"
    "     connection (a receiver that does not take from this machine resets it), or the\n"
    "     time ran out (the reason is printed)\n"
    "  2  the command line is wrong\n"
    "  3  the file or text cannot be sent\n"
    "\n"
    "A text, and your names, go in the peers' code page (ZUMELKO_PEER_CODEPAGE, 932 unless\n"
    "set) for peers that read only that, and exactly for Zumelko; a text that is not UTF-8\n"
    "is read in that code page. A text is taken by receivers up to 512 MiB.\n"
    "Sending, an item that went encrypted is reported with its check code on standard\n"
    "error (\"check code dddd dddd dddd\"); receiving, each item that came encrypted is too,\n"
    "at the end of its line, so that the two ends can be compared.\n"
    "While receiving, texts are printed as UTF-8, each followed by a line break with\n"
    "--forever (a NUL with -0). On a terminal, control characters other than line breaks\n"
    "and tabs are shown as \\xNN; to a pipe or a file the bytes go as they came. The\n"
    "sender's names go to standard error, always escaped. Nothing is ever opened or run.\n";

void Fail(const std::string& message) { std::fprintf(stderr, "zumelko-send: %s\n", message.c_str()); }

// UTF-8 from the network for a terminal: no control character may reach it, neither a C0 one
// nor the C1 ones (U+0080 to U+009F) that a terminal takes as escapes too. A text keeps its
// layout: line breaks (a CR only before an LF) and tabs.
std::string EscapeControls(std::string_view bytes, bool keepLayout) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        unsigned escape = 0x100;
        const bool layout = c == '\n' || c == '\t' || (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n');
        if ((c < 0x20 || c == 0x7f) && !(keepLayout && layout)) escape = c;
        if (c == 0xC2 && i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) < 0xA0)
            escape = static_cast<unsigned char>(bytes[++i]);
        if (escape < 0x100) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", escape);
            out += escaped;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

// Names from the network, as they are shown.
std::string Printable(const std::string& utf8) { return EscapeControls(zumelko::ValidUtf8(utf8), false); }

// Everything that comes from a file or standard input ("-"), up to the receivers' ceiling.
std::optional<std::string> ReadText(const std::string& path, std::string& text) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? "standard input" : path;
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "cannot read " + name + ": " + std::strerror(errno);
    std::optional<std::string> why;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            why = "cannot read " + name + ": " + std::strerror(errno);
            break;
        }
        if (text.size() + static_cast<std::size_t>(n) >= zumelko::kMaxReceivedText) {
            why = name + " is too large: receivers take texts of less than 512 MiB";
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (!standardInput) ::close(fd);
    return why;
}

std::string LocalName(bool user) {
    zumelko::platform::qt::SmbNetwork network;
    char buffer[512] = {};
    std::uint32_t size = sizeof buffer;
    const bool ok = user ? network.GetUserName(buffer, size) : network.GetComputerName(buffer, size);
    return ok ? std::string(buffer) : std::string();
}

// The picture as the 24-bit BMP file image an instance takes, or a reason why not.
std::optional<std::string> LoadPicture(const std::string& path, BitmapImage& picture) {
    QImageReader reader(QString::fromLocal8Bit(path.c_str()));
    QImage image = reader.read();
    if (image.isNull()) return "cannot read the picture " + path + ": " + reader.errorString().toStdString();
    image = image.convertToFormat(QImage::Format_RGB888);
    if (image.isNull()) return "not enough memory for the picture " + path;
    const auto width = static_cast<std::uint32_t>(image.width());
    const auto height = static_cast<std::uint32_t>(image.height());
    const std::size_t row = (std::size_t{width} * 3 + 3) & ~std::size_t{3};
    const std::size_t pixels = row * height;
    if (pixels + 54 > TSimpleTcp::kDefaultMaxPacketSize) return "the picture " + path + " is too large to send";
    std::vector<std::uint8_t> bmp(54 + pixels, 0);
    auto put16 = [&](std::size_t at, std::uint32_t v) {
        bmp[at] = static_cast<std::uint8_t>(v);
        bmp[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        put16(at, v & 0xffff);
        put16(at + 2, v >> 16);
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, static_cast<std::uint32_t>(bmp.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    put16(26, 1);
    put16(28, 24);
    put32(34, static_cast<std::uint32_t>(pixels));
    for (std::uint32_t y = 0; y < height; ++y) {
        const uchar* src = image.constScanLine(static_cast<int>(y));
        std::uint8_t* dst = bmp.data() + 54 + row * (height - 1 - y);
        for (std::uint32_t x = 0; x < width; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    MemoryStream stream;
    stream.Write(bmp.data(), bmp.size());
    stream.SetPosition(0);
    try {
        picture.ReadFromStream(stream);
    } catch (const std::exception& e) {
        return "cannot send the picture " + path + ": " + e.what();
    }
    return std::nullopt;
}

struct Options {
    bool receive = false;
    bool keepGoing = false;
    bool nulEnds = false;
    // --secret: the item is a password; an instance keeps it out of sight and out of its
    // clipboard's history.
    bool secret = false;
    int portOffset = 0;
    int timeoutSeconds = kDefaultTimeoutSeconds;
    std::optional<std::string> picturesTo;
    std::string dir = ".";
    std::string host;
    std::optional<std::string> file;
    std::optional<std::string> image;
    std::vector<std::string> words;
    bool version = false;
    // The encrypted channel, for sending and receiving alike. strict (--strict): never the plain
    // channel; a send that cannot go encrypted fails. passphraseKey (from --passphrase-file or
    // ZUMELKO_PASSPHRASE, derived once at start): peers must know the team's passphrase, and
    // nothing travels plain either, as with strict. Neither: encrypted with instances that speak
    // it, plain with the others.
    struct Security {
        bool strict = false;
        std::optional<zumelko::tls::PassphraseKey> passphraseKey;
        // Whether the plain channel is out, for either reason.
        bool PlainForbidden() const { return strict || passphraseKey.has_value(); }
    } security;
    // Where the passphrase comes from, as the command line says; read by LoadSecurity.
    std::optional<std::string> passphraseFile;
};

// The channel's text for a failed socket call, without the channel's own "(in Sender)".
std::string SocketReason(std::string message) {
    for (const char* tail : {" (in Sender)", " (in Listener)"}) {
        const std::string t = tail;
        if (message.size() >= t.size() && message.compare(message.size() - t.size(), t.size(), t) == 0)
            message.resize(message.size() - t.size());
    }
    return message;
}

std::string What(const std::string& type) { return type == "bitmap" ? "picture" : "text"; }

std::string NotReached(const std::string& host, int port, const std::string& message) {
    const std::string reason = SocketReason(message);
    if (reason == "Host not found" || reason.find("host not found") != std::string::npos ||
        reason.find("no data record") != std::string::npos)
        return "cannot find the machine " + host + " (" + reason + ")";
    if (reason == "Connection refused")
        return "nothing answers on " + host + " port " + std::to_string(port) + ": Zumelko is not running there (" +
               reason + ")";
    return "cannot reach Zumelko on " + host + " port " + std::to_string(port) + ": " + reason;
}

// Header then data, each on its own port; done when the receiver has closed after the data.
// Makes this start's key and certificate in context, with the team's key when a passphrase is
// set; false (and a line on stderr) when TLS cannot be set up.
bool MakeTlsContext(const Options& options, std::optional<zumelko::tls::TlsContext>& context) {
    try {
        context.emplace();
        if (options.security.passphraseKey) context->SetPassphraseKey(*options.security.passphraseKey);
        return true;
    } catch (const std::exception& e) {
        Fail(std::string("cannot set up TLS: ") + e.what());
        context.reset();
        return false;
    }
}

int Send(const Options& options, Component& root, zumelko::platform::sim::SimDesktop& desktop) {
    std::string type;
    std::string text;
    BitmapImage picture;
    if (options.image) {
        if (auto why = LoadPicture(*options.image, picture)) {
            Fail(*why);
            return kExitBadInput;
        }
        type = "bitmap";
    } else if (options.file) {
        if (auto why = ReadText(*options.file, text)) {
            Fail(*why);
            return kExitBadInput;
        }
        type = "string";
    } else {
        for (const auto& word : options.words) {
            if (!text.empty()) text.push_back(' ');
            text += word;
        }
        if (text.size() >= zumelko::kMaxReceivedText) {
            Fail("the text is too large: receivers take texts of less than 512 MiB");
            return kExitBadInput;
        }
        type = "string";
    }
    const auto& texts = zumelko::platform::qt::QtTexts();
    if (type == "string") {
        // A text that is not UTF-8 is taken to be in the peers' code page, as their files are.
        if (!zumelko::IsValidUtf8(text)) {
            auto utf8 = texts.ToUtf8(text, texts.PeerCodePage(), zumelko::kMaxReceivedText);
            if (!utf8) {
                Fail("the text is too large: receivers take texts of less than 512 MiB");
                return kExitBadInput;
            }
            text = std::move(*utf8);
        }
        text = zumelko::TextPayload(texts, text);
        // Beside the code page's form goes the exact text when the two differ: both count.
        if (text.size() >= zumelko::kMaxReceivedText) {
            Fail("the text is too large: receivers take texts of less than 512 MiB");
            return kExitBadInput;
        }
    }

    StringList lines;
    zumelko::MakeHeader(texts, type, LocalName(true), LocalName(false), lines, options.secret);
    auto& loop = desktop.loop();
    const auto started = std::chrono::steady_clock::now();

    // The encrypted channel first; the plain one only when nothing answers on its port and
    // neither a passphrase nor strict mode forbids it.
    {
        std::optional<zumelko::tls::TlsContext> context;
        if (!MakeTlsContext(options, context)) return kExitNotDelivered;
        std::optional<zumelko::TSecureFailure> failure;
        std::string failureText;
        bool sent = false;
        // The channel ends with this block, before the context and the results it reports into:
        // nothing it might still hear after a failed send can reach them.
        Component secureOwner(nullptr);
        auto& secure = secureOwner.Create<zumelko::TSecureTcp>(*context);
        const int securePort = kSecurePort + options.portOffset;
        secure.SetPort(securePort);
        secure.OnSended = [&](Component*) { sent = true; };
        secure.OnSendFailed = [&](Component*, zumelko::TSecureFailure kind, const std::string& message) {
            failure = kind;
            failureText = message;
        };
        MemoryStream payload;
        if (type == "string") {
            payload.Reserve(text.size() + 1);
            payload.Write(text.data(), text.size());
            const char nul = '\0';
            payload.Write(&nul, 1);
        } else {
            picture.WriteToStream(payload);
        }
        secure.SendItem(options.host, lines, std::move(payload));
        auto done = [&] { return sent || failure.has_value(); };
        if (options.timeoutSeconds == 0) {
            loop.RunUntil(done);
        } else if (!loop.RunUntilFor(done, std::chrono::seconds(options.timeoutSeconds))) {
            Fail(options.host + " did not finish with the " + What(type) + " within " +
                 std::to_string(options.timeoutSeconds) + " seconds (encrypted, port " + std::to_string(securePort) +
                 "); its user may still be deciding, and may still take it");
            return kExitNotDelivered;
        }
        if (sent) {
            std::fprintf(stderr, "zumelko-send: sent encrypted%s; check code %s\n",
                         secure.SendPassphraseAuthenticated() ? " to a holder of the passphrase" : "",
                         secure.SendCheckCode().c_str());
            // One item per run, and nothing is kept between runs: the key is new to this one.
            zumelko::PeerKeys keys;
            const zumelko::KeyState key =
                keys.Note({zumelko::PeerKeys::Name(options.host), zumelko::PeerKeys::Address(secure.SendPeerAddress())},
                          {}, secure.SendPeerFingerprint());
            std::fprintf(stderr, "zumelko-send: key of %s (%s): %s\n",
                         zumelko::DottedAddress(secure.SendPeerAddress()).c_str(), Printable(options.host).c_str(),
                         zumelko::KeyLogText(key));
            return kExitSent;
        }
        const bool plainAllowed = !options.security.PlainForbidden();
        if (*failure != zumelko::TSecureFailure::Unreachable) {
            Fail(options.host + " port " + std::to_string(securePort) + ": " + failureText);
            return kExitNotDelivered;
        }
        if (!plainAllowed) {
            Fail(NotReached(options.host, securePort, failureText) + "; not sending in plain");
            return kExitNotDelivered;
        }
    }
    int timeoutLeft = options.timeoutSeconds;
    if (timeoutLeft > 0) {
        const auto spent = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
        timeoutLeft = std::max(1, timeoutLeft - static_cast<int>(spent.count()));
    }

    auto& header = root.Create<TSimpleTcp>();
    auto& data = root.Create<TSimpleTcp>();
    header.SetPort(kHeaderPort + options.portOffset);
    data.SetPort(kDataPort + options.portOffset);
    std::optional<int> result;
    struct Handlers {
        TSimpleTcp& data;
        const std::string& type;
        std::string& text;  // handed to the channel when it goes
        const BitmapImage& picture;
        const std::string& host;
        std::optional<int>& result;
        void HeaderSent(Component*) {
            headerDone = true;
            if (type == "string")
                data.SendString(host, std::move(text));
            else
                data.SendGraphic(host, picture);
        }
        void DataSent(Component*) { result = kExitSent; }
        void HeaderError(Component*, const std::string& message) {
            Fail(NotReached(host, headerPort, message));
            result = kExitNotDelivered;
        }
        void DataError(Component*, const std::string& message) {
            Fail(host + " took the announcement, but the " + What(type) + " was not delivered (port " +
                 std::to_string(dataPort) + "): " + SocketReason(message));
            result = kExitNotDelivered;
        }
        bool headerDone = false;
        int headerPort, dataPort;
    } handlers{data, type, text, picture, options.host, result, false, kHeaderPort + options.portOffset,
               kDataPort + options.portOffset};
    header.OnSended = {&handlers, &Handlers::HeaderSent};
    header.OnError = {&handlers, &Handlers::HeaderError};
    data.OnSended = {&handlers, &Handlers::DataSent};
    data.OnError = {&handlers, &Handlers::DataError};

    header.SendStrings(options.host, lines);
    if (timeoutLeft == 0) {
        loop.RunUntil([&] { return result.has_value(); });
    } else if (!loop.RunUntilFor([&] { return result.has_value(); }, std::chrono::seconds(timeoutLeft))) {
        // Where it stands says what to tell: nobody answers, or someone answers and holds on.
        const std::string within = " within " + std::to_string(options.timeoutSeconds) + " seconds";
        TSimpleTcp& stuck = handlers.headerDone ? data : header;
        const int port = (handlers.headerDone ? kDataPort : kHeaderPort) + options.portOffset;
        if (stuck.SenderSocket().SocketState() != zumelko::ssConnected)
            Fail("could not connect to " + options.host + " port " + std::to_string(port) + within +
                 ": the machine is off, unreachable, or drops the connection");
        else if (!handlers.headerDone)
            Fail(options.host + " port " + std::to_string(port) + " took the connection but not the announcement" +
                 within);
        else
            Fail(options.host + " did not finish with the " + What(type) + within +
                 "; its user may still be deciding, and may still take it");
        return kExitNotDelivered;
    }
    return result.value_or(kExitNotDelivered);
}

// Writes a received picture to a new file in dir, whose name is ours, never the sender's. The
// file is made by this call and no one else: a name that exists, as a file or as a link someone
// planted in a shared folder, is passed over. Returns the path, or nothing (errno set).
std::optional<std::string> WriteNewFile(const std::string& dir, const MemoryStream& file) {
    for (int n = 1; n < 10000; ++n) {
        const std::string path = dir + "/zumelko-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(n) + ".bmp";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return std::nullopt;
        }
        const std::uint8_t* bytes = file.Data();
        std::size_t done = 0;
        errno = 0;
        while (done < file.Size()) {
            const ssize_t wrote = ::write(fd, bytes + done, file.Size() - done);
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) break;
            done += static_cast<std::size_t>(wrote);
        }
        int error = done < file.Size() ? (errno != 0 ? errno : EIO) : 0;
        if (::close(fd) != 0 && error == 0) error = errno;
        if (error != 0) {
            // Half a picture is no picture.
            ::unlink(path.c_str());
            errno = error;
            return std::nullopt;
        }
        return path;
    }
    errno = EEXIST;
    return std::nullopt;
}

// Where received items go: texts to standard output, pictures' file names there too or to a
// file of their own; each ends with a line break or, for scripts that split on it, a NUL.
struct Output {
    bool terminal = ::isatty(STDOUT_FILENO) == 1;
    char end = '\n';
    std::FILE* pictures = stdout;

    void Text(std::string_view utf8, bool ended) const {
        if (terminal) {
            const std::string shown = EscapeControls(utf8, true);
            std::fwrite(shown.data(), 1, shown.size(), stdout);
        } else {
            std::fwrite(utf8.data(), 1, utf8.size(), stdout);
        }
        if (ended) std::fputc(end, stdout);
        std::fflush(stdout);
    }
    void Picture(const std::string& path) const {
        std::fputs(path.c_str(), pictures);
        std::fputc(end, pictures);
        std::fflush(pictures);
    }
};

// How an item came over the encrypted channel, for its lines on standard error: its check code
// ends the line, in the form the sender prints it, so that a script can compare the two ends.
std::string HowItCame(const zumelko::TSecureTcp& secure) {
    return std::string(", encrypted") + (secure.PassphraseAuthenticated() ? " by a holder of the passphrase" : "") +
           "; check code " + secure.CheckCode();
}

// What happens to the items on the way in: the plain channel's and the encrypted one's alike.
struct Receiver {
    zumelko::TSecureTcp& secure;
    const Options& options;
    const Output& output;
    std::optional<int>& result;
    // The last header on the plain port; the encrypted channel's come with their data.
    zumelko::ReceivedHeader plainHeader;
    // The senders' keys over this run (with --forever, many items).
    zumelko::PeerKeys keys;

    static zumelko::ReceivedHeader Read(const StringList& lines) {
        return zumelko::ReadHeader(zumelko::platform::qt::QtTexts(), lines);
    }
    zumelko::ReceivedHeader SecureHeader() const {
        StringList lines;
        secure.GetHeader(lines);
        return Read(lines);
    }
    static bool TakesLength(const zumelko::ReceivedHeader& header, std::size_t length, const std::string& how) {
        if (header.type != "string" || length <= zumelko::kMaxReceivedText) return true;
        std::fprintf(stderr, "zumelko-send: refused a text of %zu bytes%s\n", length, how.c_str());
        return false;
    }

    void PlainHeaderReceived(Component* sender) {
        StringList lines;
        static_cast<TSimpleTcp*>(sender)->GetStrings(lines);
        plainHeader = Read(lines);
    }
    void PlainAnnounced(Component*, std::size_t length, bool& accept) { accept = TakesLength(plainHeader, length, {}); }
    void PlainReceived(Component* sender) { Deliver(*static_cast<TSimpleTcp*>(sender), plainHeader, {}); }

    void SecureHeaderArrived(Component*, bool& accept) {
        // The session proved the passphrase already; an item without that proof is never taken.
        if (options.security.passphraseKey && !secure.PassphraseAuthenticated()) accept = false;
    }
    void SecureAnnounced(Component*, std::size_t length, bool& accept) {
        accept = TakesLength(SecureHeader(), length, HowItCame(secure));
    }
    void SecureReceived(Component*) {
        const zumelko::ReceivedHeader header = SecureHeader();
        // Keyed as the program keys it: the address, and the name the header claims.
        const zumelko::KeyState key =
            keys.Note({zumelko::PeerKeys::Address(secure.PeerAddress())}, {zumelko::PeerKeys::Name(header.machine)},
                      secure.PeerFingerprint());
        Deliver(secure, header, HowItCame(secure));
        // A line of its own, so that the item's line still ends with its check code.
        std::fprintf(stderr, "zumelko-send: key of %s (\"%s\"): %s\n",
                     zumelko::DottedAddress(secure.PeerAddress()).c_str(), Printable(header.machine).c_str(),
                     zumelko::KeyLogText(key));
    }

    template <typename Channel>
    void Deliver(Channel& channel, const zumelko::ReceivedHeader& header, const std::string& how) {
        const std::string from =
            "from \"" + Printable(header.user) + "\" on \"" + Printable(header.machine) + "\"" + how;
        if (header.type == "string") {
            const zumelko::SharedText received = channel.TakeString();
            const auto text = zumelko::ReadTextPayload(zumelko::platform::qt::QtTexts(), received, header.codePage,
                                                       zumelko::kMaxReceivedText - 1);
            if (!text) {
                std::fprintf(stderr, "zumelko-send: refused a text of %zu bytes %s\n", received.Size(), from.c_str());
                return;
            }
            std::fprintf(stderr, "zumelko-send: text of %zu bytes %s\n", text->Size(), from.c_str());
            Secret(header);
            output.Text(text->View(), options.keepGoing || options.nulEnds);
        } else if (header.type == "bitmap") {
            BitmapImage picture;
            MemoryStream file;
            try {
                channel.GetGraphic(picture);
                picture.WriteToStream(file);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "zumelko-send: dropped a broken picture (%s) %s\n", e.what(), from.c_str());
                return;
            }
            if (picture.Empty()) {
                std::fprintf(stderr, "zumelko-send: dropped an empty picture %s\n", from.c_str());
                return;
            }
            const auto path = WriteNewFile(options.dir, file);
            if (!path) {
                Fail("cannot write a new picture file in " + options.dir + ": " + std::strerror(errno));
                result = kExitNotDelivered;
                return;
            }
            std::fprintf(stderr, "zumelko-send: picture %dx%d %s\n", picture.Width(), picture.Height(),
                         from.c_str());
            Secret(header);
            output.Picture(*path);
        } else {
            std::fprintf(stderr, "zumelko-send: dropped an item of unknown kind %s\n", from.c_str());
            return;
        }
        if (!options.keepGoing) result = kExitSent;
    }
    // After the item's own line, as the key's line comes.
    static void Secret(const zumelko::ReceivedHeader& header) {
        if (header.secret) std::fprintf(stderr, "zumelko-send: the item is marked as a password (secret)\n");
    }
    void Error(Component* sender, const std::string& message) {
        // Only a listener that cannot start ends the wait; a peer's failure does not.
        const int port = sender == &secure ? secure.Port() : static_cast<TSimpleTcp*>(sender)->Port();
        if (message.find("(in Listener)") != std::string::npos) {
            Fail("cannot wait for items on port " + std::to_string(port) + ": " + SocketReason(message));
            result = kExitNotDelivered;
        } else {
            Fail("an item on port " + std::to_string(port) + " was not received: " + SocketReason(message));
        }
    }
};

int Receive(const Options& options) {
    if (!std::filesystem::is_directory(options.dir)) {
        Fail("no such folder: " + options.dir);
        return kExitUsage;
    }
    Output output;
    if (options.nulEnds) output.end = '\0';
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> picturesFile(nullptr, &std::fclose);
    if (options.picturesTo) {
        picturesFile.reset(std::fopen(options.picturesTo->c_str(), "ae"));
        if (!picturesFile) {
            Fail("cannot write to " + *options.picturesTo + ": " + std::strerror(errno));
            return kExitUsage;
        }
        output.pictures = picturesFile.get();
    }
    std::optional<zumelko::tls::TlsContext> context;
    if (!MakeTlsContext(options, context)) return kExitNotDelivered;
    // The channels go before the context they use.
    Component channels(nullptr);
    auto& secure = channels.Create<zumelko::TSecureTcp>(*context);
    secure.SetPort(kSecurePort + options.portOffset);
    secure.SetMaxHeaderSize(kMaxHeaderSize);
    // With strict mode or a passphrase the plain ports are not even listened on: a plain
    // sender finds nothing there, as on a machine that runs no receiver.
    TSimpleTcp* header = nullptr;
    TSimpleTcp* data = nullptr;
    if (!options.security.PlainForbidden()) {
        header = &channels.Create<TSimpleTcp>();
        data = &channels.Create<TSimpleTcp>();
        header->SetPort(kHeaderPort + options.portOffset);
        header->SetMaxPacketSize(kMaxHeaderSize);
        data->SetPort(kDataPort + options.portOffset);
        // What both ports hold of arriving items counts against one ceiling, as in the program.
        const auto budget = std::make_shared<zumelko::ReceiveBudget>(data->MaxPacketSize());
        data->ShareBudget(budget);
        secure.ShareBudget(budget);
    }
    std::optional<int> result;
    Receiver handlers{secure, options, output, result, {}, {}};
    secure.OnHeader = {&handlers, &Receiver::SecureHeaderArrived};
    secure.OnAnnounced = {&handlers, &Receiver::SecureAnnounced};
    secure.OnReceived = {&handlers, &Receiver::SecureReceived};
    secure.OnError = {&handlers, &Receiver::Error};
    if (header) {
        header->OnReceived = {&handlers, &Receiver::PlainHeaderReceived};
        header->OnError = {&handlers, &Receiver::Error};
        data->OnAnnounced = {&handlers, &Receiver::PlainAnnounced};
        data->OnReceived = {&handlers, &Receiver::PlainReceived};
        data->OnError = {&handlers, &Receiver::Error};
        header->Listen();
        data->Listen();
    }
    secure.Listen();
    zumelko::platform::Current().loop().RunUntil([&] { return result.has_value(); });
    return result.value_or(kExitNotDelivered);
}

// Throws a message for the user on a command line it cannot follow.
std::optional<Options> Parse(int argc, char** argv) {
    Options options;
    std::vector<std::string> args(argv + 1, argv + argc);
    bool endOfOptions = false;
    auto value = [&](std::size_t& i) -> const std::string& {
        if (i + 1 >= args.size()) throw std::runtime_error(args[i] + " needs a value");
        return args[++i];
    };
    std::vector<std::string> positional;
    std::optional<std::size_t> dashAt;  // where a "-" that means standard input stands
    bool timeoutGiven = false;
    zumelko::SecurityOptions security;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string wrong;
        if (!endOfOptions && zumelko::TakeSecurityOption(args, i, security, wrong)) {
            if (!wrong.empty()) throw std::runtime_error(wrong);
        } else if (endOfOptions || a.empty() || a[0] != '-' || a == "-") {
            if (a == "-" && !endOfOptions) dashAt = positional.size();
            positional.push_back(a);
        } else if (a == "--") {
            endOfOptions = true;
        } else if (a == "--help" || a == "-h") {
            return std::nullopt;
        } else if (a == "--version") {
            options.version = true;
            return options;
        } else if (a == "-0" || a == "--null") {
            options.nulEnds = true;
        } else if (a == "--pictures-to") {
            options.picturesTo = value(i);
        } else if (a == "--timeout") {
            const std::string& v = value(i);
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 0 || n > 86400)
                throw std::runtime_error("--timeout takes a number of seconds from 0 to 86400");
            options.timeoutSeconds = static_cast<int>(n);
            timeoutGiven = true;
        } else if (a == "--receive") {
            options.receive = true;
        } else if (a == "--secret") {
            options.secret = true;
        } else if (a == "--forever") {
            options.keepGoing = true;
        } else if (a == "--dir") {
            options.dir = value(i);
        } else if (a == "--file") {
            options.file = value(i);
        } else if (a == "--image") {
            options.image = value(i);
        } else if (a == "--port-offset") {
            const std::string& v = value(i);
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 0 || n > 57000)
                throw std::runtime_error("--port-offset takes a number from 0 to 57000");
            options.portOffset = static_cast<int>(n);
        } else {
            throw std::runtime_error("unknown option " + a);
        }
    }
    options.security.strict = security.strict;
    options.passphraseFile = security.passphraseFile;
    if (options.receive) {
        if (!positional.empty() || options.file || options.image)
            throw std::runtime_error("--receive takes no host, text or file");
        if (timeoutGiven) throw std::runtime_error("--timeout is for sending; --receive waits until an item comes");
        if (options.secret) throw std::runtime_error("--secret is for sending; --receive says of each item whether it is one");
        return options;
    }
    if (options.keepGoing) throw std::runtime_error("--forever goes with --receive");
    if (options.nulEnds || options.picturesTo) throw std::runtime_error("-0 and --pictures-to go with --receive");
    if (positional.empty()) throw std::runtime_error("no host given");
    options.host = positional[0];
    options.words.assign(positional.begin() + 1, positional.end());
    // "-" as the text, or no text at all from a pipe or a file: the text is standard input.
    if (dashAt == 0) throw std::runtime_error("no host given (\"-\" is no machine)");
    const bool dashText = dashAt == 1 && options.words.size() == 1;
    if (dashAt && !dashText) throw std::runtime_error("\"-\" stands alone, for the text from standard input");
    if (dashText || (options.words.empty() && !options.file && !options.image && ::isatty(STDIN_FILENO) != 1)) {
        if (options.file || options.image) throw std::runtime_error("send one thing at a time: a text, --file or --image");
        options.words.clear();
        options.file = "-";
    }
    if (security.passphraseFile == "-" && (options.file == "-" || options.image == "-"))
        throw std::runtime_error("standard input gives the passphrase or what to send, not both");
    const int what = (options.file ? 1 : 0) + (options.image ? 1 : 0) + (options.words.empty() ? 0 : 1);
    if (what == 0) throw std::runtime_error("nothing to send: give a text, --file or --image");
    if (what > 1) throw std::runtime_error("send one thing at a time: a text, --file or --image");
    return options;
}

// Reads the passphrase, once the command line is known to be right, and derives its key.
void LoadSecurity(Options& options) {
    zumelko::SecurityOptions security;
    security.passphraseFile = options.passphraseFile;
    std::optional<std::string> environment = zumelko::platform::posix::TakeEnvironment(zumelko::kPassphraseVariable);
    const auto why =
        zumelko::LoadPassphrase(security, environment, std::cin, zumelko::platform::posix::PassphraseFileProblem);
    if (environment) zumelko::WipeString(*environment);
    if (why) throw std::runtime_error(*why);
    if (security.passphrase) {
        options.security.passphraseKey = zumelko::tls::DerivePassphraseKey(*security.passphrase);
        zumelko::WipeString(*security.passphrase);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> options;
    try {
        options = Parse(argc, argv);
        if (options && !options->version) LoadSecurity(*options);
    } catch (const std::exception& e) {
        Fail(e.what());
        std::fprintf(stderr, "Try 'zumelko-send --help'.\n");
        return kExitUsage;
    }
    if (!options) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("zumelko-send %s\n", ZUMELKO_VERSION);
        return 0;
    }
    zumelko::platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    return options->receive ? Receive(*options) : Send(*options, root, *desktop);
}
