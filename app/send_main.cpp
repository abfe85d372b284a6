// zumelko-send: the program's two packets from the command line. Sends a text, a text file or
// a picture to an instance and says whether it was taken, or receives like an instance and
// hands what comes to standard output or a file. No dialog, no clipboard: the desktop under the
// channel is the simulated one (its sockets are real); the picture reader is the Linux
// desktop's, and the names sent are this machine's.
#include <QImage>
#include <QImageReader>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/MainForm.h"
#include "desktop/BitmapImage.h"
#include "framework/Component.h"
#include "framework/StringList.h"
#include "platform/qt/Charset.h"
#include "platform/qt/SmbNetwork.h"
#include "platform/sim/SimDesktop.h"
#include "transport/SimpleTcp.h"
#include "transport/WireText.h"

namespace {

using zumelko::BitmapImage;
using zumelko::Component;
using zumelko::MemoryStream;
using zumelko::StringList;
using zumelko::TSimpleTcp;

constexpr int kHeaderPort = 8000;
constexpr int kDataPort = 8001;
// What an instance takes as a header; a larger one is no instance's.
constexpr std::size_t kMaxHeaderSize = 64 * 1024;

// Exit codes, so that scripts can tell a refusal of theirs from a failure on the way.
constexpr int kExitSent = 0;
constexpr int kExitNotDelivered = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadInput = 3;

constexpr const char* kHelp =
    "Usage:\n"
    "  zumelko-send HOST TEXT...           send a text (the words joined by single spaces)\n"
    "  zumelko-send HOST --file FILE       send the contents of a text file\n"
    "  zumelko-send HOST --image FILE      send a picture (PNG, JPEG, BMP, GIF... anything the\n"
    "                                      desktop's image reader knows), as a 24-bit BMP\n"
    "  zumelko-send --receive [--forever] [--dir DIR]\n"
    "                                      wait for one item from another machine (or keep\n"
    "                                      waiting with --forever): a text goes to standard\n"
    "                                      output, a picture to a new BMP file in DIR (default:\n"
    "                                      the current folder) whose name is printed\n"
    "  zumelko-send --help                 this text\n"
    "\n"
    "HOST is the machine name or address of a computer running Zumelko (or zumelko-send\n"
    "--receive). The item is sent as coming from your login name on this machine; the\n"
    "receiver decides whether to take it into its clipboard.\n"
    "\n"
    "Options:\n"
    "  --port-offset N   use ports 8000+N and 8001+N instead of 8000 and 8001 (both sides\n"
    "                    must agree; for trying things out on one machine)\n"
    "\n"
    "Exit status:\n"
    "  0  the receiver took the item          1  it was not delivered (the reason is printed)\n"
    "  2  the command line is wrong            3  the file or text cannot be sent\n"
    "\n"
    "A text, and your names, go in the peers' code page (ZUMELKO_PEER_CODEPAGE, 932 unless\n"
    "set) for peers that read only that, and exactly for Zumelko; a text that is not UTF-8\n"
    "is read in that code page. A text is taken by receivers up to 512 MiB.\n"
    "While receiving, texts are printed as UTF-8 and the sender's names go to standard\n"
    "error; nothing is ever opened or run.\n";

void Fail(const std::string& message) { std::fprintf(stderr, "zumelko-send: %s\n", message.c_str()); }

// Names from the network shown on a terminal, in UTF-8: no control character may reach it,
// neither a C0 one nor the C1 ones (U+0080 to U+009F) that a terminal takes as escapes too.
std::string Printable(const std::string& utf8) {
    const std::string bytes = zumelko::ValidUtf8(utf8);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        unsigned escape = 0x100;
        if (c < 0x20 || c == 0x7f) escape = c;
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
    int portOffset = 0;
    std::string dir = ".";
    std::string host;
    std::optional<std::string> file;
    std::optional<std::string> image;
    std::vector<std::string> words;
};

// Header then data, each on its own port; done when the receiver has closed after the data.
int Send(const Options& options, Component& root) {
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
        std::error_code ec;
        const auto size = std::filesystem::file_size(*options.file, ec);
        if (ec) {
            Fail("cannot read " + *options.file + ": " + ec.message());
            return kExitBadInput;
        }
        if (size >= zumelko::kMaxReceivedText) {
            Fail(*options.file + " is too large: receivers take texts of less than 512 MiB");
            return kExitBadInput;
        }
        std::ifstream in(*options.file, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) {
            Fail("cannot read " + *options.file + ": " + std::strerror(errno));
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

    auto& header = root.Create<TSimpleTcp>();
    auto& data = root.Create<TSimpleTcp>();
    header.SetPort(kHeaderPort + options.portOffset);
    data.SetPort(kDataPort + options.portOffset);
    std::optional<int> result;
    struct Handlers {
        TSimpleTcp& data;
        const std::string& type;
        const std::string& text;
        const BitmapImage& picture;
        const std::string& host;
        std::optional<int>& result;
        void HeaderSent(Component*) {
            if (type == "string")
                data.SendString(host, text);
            else
                data.SendGraphic(host, picture);
        }
        void DataSent(Component*) { result = kExitSent; }
        void HeaderError(Component*, const std::string& message) {
            Fail("not sent to " + host + ": " + message);
            result = kExitNotDelivered;
        }
        void DataError(Component*, const std::string& message) {
            Fail("not delivered to " + host + ": " + message);
            result = kExitNotDelivered;
        }
    } handlers{data, type, text, picture, options.host, result};
    header.OnSended = {&handlers, &Handlers::HeaderSent};
    header.OnError = {&handlers, &Handlers::HeaderError};
    data.OnSended = {&handlers, &Handlers::DataSent};
    data.OnError = {&handlers, &Handlers::DataError};

    StringList lines;
    zumelko::MakeHeader(texts, type, LocalName(true), LocalName(false), lines);
    header.SendStrings(options.host, lines);
    zumelko::platform::Current().loop().RunUntil([&] { return result.has_value(); });
    return result.value_or(kExitNotDelivered);
}

// A new file in dir for a received picture; its name is ours, never the sender's.
std::string PictureFileName(const std::string& dir) {
    for (int n = 1;; ++n) {
        const std::string path = dir + "/zumelko-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(n) + ".bmp";
        if (!std::filesystem::exists(path)) return path;
    }
}

int Receive(const Options& options, Component& root) {
    if (!std::filesystem::is_directory(options.dir)) {
        Fail("no such folder: " + options.dir);
        return kExitUsage;
    }
    auto& header = root.Create<TSimpleTcp>();
    auto& data = root.Create<TSimpleTcp>();
    header.SetPort(kHeaderPort + options.portOffset);
    header.SetMaxPacketSize(kMaxHeaderSize);
    data.SetPort(kDataPort + options.portOffset);
    std::optional<int> result;
    struct Handlers {
        TSimpleTcp& header;
        TSimpleTcp& data;
        const Options& options;
        std::optional<int>& result;
        std::string type, user, machine;
        int codePage = 0;

        void HeaderReceived(Component*) {
            StringList lines;
            header.GetStrings(lines);
            zumelko::ReceivedHeader read = zumelko::ReadHeader(zumelko::platform::qt::QtTexts(), lines);
            type = std::move(read.type);
            user = std::move(read.user);
            machine = std::move(read.machine);
            codePage = read.codePage;
        }
        void Announced(Component*, std::size_t length, bool& accept) {
            if (type != "string" || length <= zumelko::kMaxReceivedText) return;
            accept = false;
            std::fprintf(stderr, "zumelko-send: refused a text of %zu bytes\n", length);
        }
        void DataReceived(Component*) {
            const std::string from = "from \"" + Printable(user) + "\" on \"" + Printable(machine) + "\"";
            if (type == "string") {
                const zumelko::SharedText received = data.TakeString();
                const auto text = zumelko::ReadTextPayload(zumelko::platform::qt::QtTexts(), received, codePage,
                                                           zumelko::kMaxReceivedText - 1);
                if (!text) {
                    std::fprintf(stderr, "zumelko-send: refused a text of %zu bytes %s\n", received.Size(), from.c_str());
                    return;
                }
                std::fprintf(stderr, "zumelko-send: text of %zu bytes %s\n", text->Size(), from.c_str());
                std::fwrite(text->View().data(), 1, text->Size(), stdout);
                if (options.keepGoing) std::fputc('\n', stdout);
                std::fflush(stdout);
            } else if (type == "bitmap") {
                BitmapImage picture;
                MemoryStream file;
                try {
                    data.GetGraphic(picture);
                    picture.WriteToStream(file);
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "zumelko-send: dropped a broken picture %s: %s\n", from.c_str(), e.what());
                    return;
                }
                if (picture.Empty()) {
                    std::fprintf(stderr, "zumelko-send: dropped an empty picture %s\n", from.c_str());
                    return;
                }
                const std::string path = PictureFileName(options.dir);
                std::ofstream out(path, std::ios::binary);
                out.write(reinterpret_cast<const char*>(file.Data()), static_cast<std::streamsize>(file.Size()));
                out.close();
                if (!out) {
                    Fail("cannot write " + path);
                    result = kExitNotDelivered;
                    return;
                }
                std::fprintf(stderr, "zumelko-send: picture %dx%d %s\n", picture.Width(), picture.Height(),
                             from.c_str());
                std::printf("%s\n", path.c_str());
                std::fflush(stdout);
            } else {
                std::fprintf(stderr, "zumelko-send: dropped an item of unknown kind %s\n", from.c_str());
                return;
            }
            if (!options.keepGoing) result = kExitSent;
        }
        void Error(Component*, const std::string& message) {
            Fail(message);
            // Only a listener that cannot start ends the wait; a peer's failure does not.
            if (message.find("(in Listener)") != std::string::npos) result = kExitNotDelivered;
        }
    } handlers{header, data, options, result, {}, {}, {}};
    header.OnReceived = {&handlers, &Handlers::HeaderReceived};
    header.OnError = {&handlers, &Handlers::Error};
    data.OnAnnounced = {&handlers, &Handlers::Announced};
    data.OnReceived = {&handlers, &Handlers::DataReceived};
    data.OnError = {&handlers, &Handlers::Error};
    header.Listen();
    data.Listen();
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
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (endOfOptions || a.empty() || a[0] != '-' || a == "-") {
            positional.push_back(a);
        } else if (a == "--") {
            endOfOptions = true;
        } else if (a == "--help" || a == "-h") {
            return std::nullopt;
        } else if (a == "--receive") {
            options.receive = true;
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
    if (options.receive) {
        if (!positional.empty() || options.file || options.image)
            throw std::runtime_error("--receive takes no host, text or file");
        return options;
    }
    if (options.keepGoing) throw std::runtime_error("--forever goes with --receive");
    if (positional.empty()) throw std::runtime_error("no host given");
    options.host = positional[0];
    options.words.assign(positional.begin() + 1, positional.end());
    const int what = (options.file ? 1 : 0) + (options.image ? 1 : 0) + (options.words.empty() ? 0 : 1);
    if (what == 0) throw std::runtime_error("nothing to send: give a text, --file or --image");
    if (what > 1) throw std::runtime_error("send one thing at a time: a text, --file or --image");
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> options;
    try {
        options = Parse(argc, argv);
    } catch (const std::exception& e) {
        Fail(e.what());
        std::fprintf(stderr, "Try 'zumelko-send --help'.\n");
        return kExitUsage;
    }
    if (!options) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    zumelko::platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    return options->receive ? Receive(*options, root) : Send(*options, root);
}
