#include "app/CommandLine.h"

#include <array>
#include <fstream>
#include <utility>

#include "core/MainForm.h"
#include "framework/Utf8.h"
#include "framework/Wipe.h"

#ifndef ZUMELKO_VERSION
#error "ZUMELKO_VERSION comes from the project's version in CMake"
#endif

namespace zumelko {

namespace {

struct Choice {
    const char* word;
    std::int32_t value;
};

constexpr Choice kCheckerChoices[] = {{"ask", AskDestination}, {"default", UseDefault}, {"off", NoCheck}};
constexpr Choice kReceiveChoices[] = {{"ask", IndividualSelection}, {"link", UrlAutoLink}, {"sleep", SleepMode}};
constexpr Choice kBrowserChoices[] = {{"netscape", NetscapeNavigator}, {"explorer", InternetExplorer}, {"none", -1}};
constexpr Choice kSenderChoices[] = {{"anyone", AnySender}, {"known", KnownSenders}};

template <std::size_t N>
std::optional<std::int32_t> Pick(const Choice (&choices)[N], const std::string& word) {
    for (const auto& c : choices)
        if (word == c.word) return c.value;
    return std::nullopt;
}

template <std::size_t N>
std::string Words(const Choice (&choices)[N]) {
    std::string out;
    for (std::size_t i = 0; i < N; ++i) out += std::string(i == 0 ? "" : i + 1 == N ? " or " : ", ") + choices[i].word;
    return out;
}

}  // namespace

bool TakeSecurityOption(const std::vector<std::string>& args, std::size_t& i, SecurityOptions& options,
                        std::string& error) {
    const std::string& arg = args[i];
    if (arg == "--strict") {
        options.strict = true;
        return true;
    }
    constexpr std::string_view kFile = "--passphrase-file";
    if (arg.rfind(kFile, 0) != 0) return false;
    if (arg.size() > kFile.size() && arg[kFile.size()] == '=') {
        options.passphraseFile = arg.substr(kFile.size() + 1);
    } else if (arg.size() == kFile.size() && i + 1 < args.size()) {
        options.passphraseFile = args[++i];
    } else if (arg.size() == kFile.size()) {
        error = "--passphrase-file needs a file (- for standard input)";
    } else {
        return false;
    }
    if (options.passphraseFile && options.passphraseFile->empty()) error = "--passphrase-file needs a file (- for standard input)";
    return true;
}

std::optional<std::string> LoadPassphrase(SecurityOptions& options, const std::optional<std::string>& environment,
                                          std::istream& standardInput, FileProblem fileProblem) {
    // Room for the longest line read, so that the text is never moved and left behind as it
    // grows; the file is read through a buffer of ours, wiped when done.
    std::string text;
    text.reserve(kMaxPassphrase + 8);
    std::array<char, 512> buffer{};
    struct Wiped {
        std::array<char, 512>& buffer;
        ~Wiped() { WipeBytes(buffer.data(), buffer.size()); }
    } wiped{buffer};
    std::string from;
    if (options.passphraseFile) {
        const std::string& path = *options.passphraseFile;
        from = path == "-" ? "the passphrase from standard input" : "the passphrase file " + path;
        std::ifstream file;
        std::istream* in = &standardInput;
        if (path != "-") {
            if (fileProblem != nullptr) {
                if (auto why = fileProblem(path)) return why;
            }
            file.rdbuf()->pubsetbuf(buffer.data(), buffer.size());
            file.open(path, std::ios::binary);
            if (!file) return "cannot read " + from;
            in = &file;
        }
        // Only the first line, and never more than a passphrase can be: a device or a huge
        // file without a line break ends the read too.
        char c = 0;
        while (text.size() <= kMaxPassphrase + 3 && in->get(c) && c != '\n') text += c;
        if (in->bad()) return "cannot read " + from;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    } else if (environment) {
        from = std::string("the passphrase in ") + kPassphraseVariable;
        text = *environment;
    } else {
        return std::nullopt;
    }
    if (text.empty()) return from + " is empty";
    if (text.size() > kMaxPassphrase) return from + " is longer than " + std::to_string(kMaxPassphrase) + " bytes";
    // Both desktops derive the key from the same bytes only when both read UTF-8.
    if (!IsValidUtf8(text)) return from + " is not UTF-8";
    options.passphrase = std::move(text);
    return std::nullopt;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args, bool slashes) {
    CommandLine line;
    auto wrong = [&](std::string why) {
        line.action = CommandLine::Action::Wrong;
        line.error = std::move(why);
        return line;
    };
    bool anyoneAsked = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (slashes && arg.size() > 1 && arg[0] == '/') arg = arg == "/?" ? "--help" : "--" + arg.substr(1);
        if (arg == "--help" || arg == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        }
        if (arg == "--version") {
            line.action = CommandLine::Action::Version;
            return line;
        }
        if (arg.rfind("--", 0) != 0 || arg.size() == 2) return wrong("unexpected argument \"" + args[i] + "\"");
        // --name=value or --name value
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        auto take = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        auto choose = [&](const auto& choices, auto& field) -> bool {
            const auto v = take();
            if (!v) {
                wrong("--" + name + " needs one of " + Words(choices));
                return false;
            }
            const auto picked = Pick(choices, *v);
            if (!picked) {
                wrong("--" + name + " takes " + Words(choices) + ", not \"" + *v + "\"");
                return false;
            }
            field = static_cast<typename std::remove_reference_t<decltype(field)>::value_type>(*picked);
            return true;
        };
        if (name == "checker") {
            if (!choose(kCheckerChoices, line.options.checkerMode)) return line;
        } else if (name == "receive") {
            if (!choose(kReceiveChoices, line.options.receiveMode)) return line;
        } else if (name == "browser") {
            if (!choose(kBrowserChoices, line.options.browser)) return line;
        } else if (name == "senders") {
            if (!choose(kSenderChoices, line.options.senderMode)) return line;
            anyoneAsked = line.options.senderMode == AnySender;
        } else if (name == "destination") {
            const auto v = take();
            if (!v) return wrong("--destination needs a machine name");
            line.options.defaultDestination = *v;
        } else if (name == "strict" && !value) {
            line.options.security.strict = true;
        } else if (name == "forward-secrets" && !value) {
            line.options.forwardSecrets = true;
        } else if (name == "passphrase-file") {
            const auto v = take();
            if (!v || v->empty()) return wrong("--passphrase-file needs a file (- for standard input)");
            line.options.security.passphraseFile = *v;
        } else if (name == "allow") {
            const auto v = take();
            if (!v || v->find_first_not_of(" ,\t") == std::string::npos)
                return wrong("--allow needs machine names or addresses");
            std::string& names = line.options.allowedNames.emplace(line.options.allowedNames.value_or(""));
            names += (names.empty() ? "" : " ") + *v;
        } else {
            return wrong("unknown option \"" + args[i] + "\"");
        }
    }
    if (line.options.allowedNames) {
        if (anyoneAsked) return wrong("--allow goes with --senders known, not with --senders anyone");
        line.options.senderMode = KnownSenders;
    }
    return line;
}

std::string VersionText() { return std::string("zumelko ") + ZUMELKO_VERSION; }

std::string HelpText() {
    return "Usage: zumelko [OPTION]...\n"
           "Forwards the clipboard to other machines on the local network, and takes what they\n"
           "send. Lives as an icon in the tray; its menus and the settings dialog do the rest.\n"
           "\n"
           "Start options set the settings for this run only; the settings dialog changes them\n"
           "while the program runs. Nothing is saved anywhere: without options every start\n"
           "begins from the first value of each list below.\n"
           "  --checker off|ask|default   what a clipboard change does: nothing (\"チェックしない\"),\n"
           "                              ask where to send it, or send it to the default\n"
           "                              destination\n"
           "  --destination NAME          the default destination machine (none at first)\n"
           "  --receive ask|link|sleep    what a received item does: ask whether to take it into\n"
           "                              the clipboard, offer to open a text in the browser, or\n"
           "                              nothing\n"
           "  --browser netscape|explorer|none\n"
           "                              the browser for links: \"Netscape Navigater\" (Firefox\n"
           "                              on Linux), \"Internet Explorer\" (the desktop's default\n"
           "                              browser on Linux), or none\n"
           "  --senders anyone|known      who may send: anyone, or only the workgroup's\n"
           "                              machines and the names given with --allow\n"
           "  --allow NAMES               machine names or addresses that may send, separated\n"
           "                              by blanks or commas; may be repeated; implies\n"
           "                              --senders known\n"
           "  --forward-secrets           send a copy that a password manager marked as secret\n"
           "                              on a clipboard change too; without it such a copy\n"
           "                              is only sent from the menu, on request\n"
           "  --strict                    no unencrypted transfer, neither sent nor received:\n"
           "                              only machines running Zumelko with encryption\n"
           "  --passphrase-file FILE      the team's passphrase, the first line of FILE (UTF-8;\n"
           "                              - reads it from standard input); machines that do\n"
           "                              not know it can neither send to this one nor receive\n"
           "                              from it, and nothing travels unencrypted\n"
           "  /quit                       on Windows: ask the running program to end as its\n"
           "                              menu's \"終了(&E)\" does (for installers and scripts)\n"
           "  --help                      this text\n"
           "  --version                   the program's version\n"
           "Each option takes its value as --option VALUE or --option=VALUE.\n"
           "\n"
           "The passphrase may come from the environment variable ZUMELKO_PASSPHRASE instead\n"
           "(--passphrase-file wins). It is never taken on the command line, where other users\n"
           "could read it in the process list, and never saved.\n"
           "\n"
           "Exit status: 0 after the menu's \"終了(&E)\", 1 without a display, 2 for a wrong\n"
           "command line.\n";
}

void ApplyStartOptions(TForm1& form, const StartOptions& options) {
    if (options.checkerMode) form.CheckerMode = *options.checkerMode;
    if (options.defaultDestination) form.DefaultDestination = *options.defaultDestination;
    if (options.receiveMode) form.ReceiveMode = *options.receiveMode;
    if (options.browser) form.Browser = *options.browser;
    if (options.senderMode || options.allowedNames)
        form.SetSenders(options.senderMode.value_or(form.SenderMode), options.allowedNames.value_or(form.AllowedNames));
    if (options.security.strict) form.StrictMode = true;
    if (options.forwardSecrets) form.ForwardSecrets = true;
    if (options.security.passphrase) form.SetPassphrase(*options.security.passphrase);
}

}  // namespace zumelko
