#include "platform/qt/BrowserDde.h"

#include <spawn.h>
#include <sys/wait.h>

#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "platform/qt/Charset.h"

namespace zumelko::platform::qt {

extern "C" char** environ;

namespace {
const char* const kTopic = "WWW_OpenURL";
constexpr std::uint32_t kFileNotFound = 2;

// Browsers outlive their start; the ones that ended are collected whenever another starts.
std::vector<pid_t>& Started() {
    static std::vector<pid_t> pids;
    return pids;
}
void Reap() {
    auto& pids = Started();
    std::erase_if(pids, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}
}  // namespace

std::vector<std::string> BrowserDde::ProgramsFor(const std::string& service) {
    if (service == "Netscape") return {"firefox", "firefox-esr"};
    if (service == "IExplore") return {"xdg-open"};
    return {};
}

bool BrowserDde::Start(const std::string& program, const std::vector<std::string>& arguments) {
    Reap();
    if (QStandardPaths::findExecutable(QString::fromLocal8Bit(program.c_str())).isEmpty()) return false;
    // The arguments go to the program byte for byte, as the locale's text they are.
    std::vector<std::string> owned;
    owned.reserve(arguments.size() + 1);
    owned.push_back(program);
    for (const auto& a : arguments) owned.push_back(a);
    std::vector<char*> argv;
    for (auto& a : owned) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
    Started().push_back(pid);
    return true;
}

Hsz BrowserDde::CreateStringHandle(const std::string& text) {
    const Hsz h = nextString_++;
    strings_.emplace(h, text);
    return h;
}

void BrowserDde::FreeStringHandle(Hsz handle) { strings_.erase(handle); }

Hconv BrowserDde::Connect(Hsz service, Hsz topic) {
    auto s = strings_.find(service);
    auto t = strings_.find(topic);
    // A 0 handle stands for any service or topic.
    if ((service != 0 && s == strings_.end()) || (topic != 0 && t == strings_.end())) return 0;
    if (topic != 0 && t->second != kTopic) return 0;
    std::vector<std::string> programs;
    if (service != 0) {
        programs = ProgramsFor(s->second);
    } else {
        programs = ProgramsFor("Netscape");
        for (auto& p : ProgramsFor("IExplore")) programs.push_back(p);
    }
    // The browser answers when one of its programs is there to be started.
    for (const auto& program : programs) {
        if (!QStandardPaths::findExecutable(QString::fromStdString(program)).isEmpty()) {
            const Hconv c = nextConversation_++;
            conversations_.emplace(c, program);
            return c;
        }
    }
    return 0;
}

void BrowserDde::Disconnect(Hconv conversation) { conversations_.erase(conversation); }

bool BrowserDde::Open(Hconv conversation, Hsz item) {
    auto c = conversations_.find(conversation);
    auto i = strings_.find(item);
    if (c == conversations_.end() || i == strings_.end()) return false;
    std::string text = i->second;
    if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    // Linux programs read their arguments as UTF-8, which the program's texts are; anything
    // else is made so before it is checked below.
    text = ValidUtf8(text);
    // One argument, never one a program could read as an option: the program above hands over
    // only web addresses, which begin with their scheme, and anything else that reaches here
    // (empty, beginning with "-", holding a line break or another control character) is
    // refused rather than started. The Mozilla family also gets "--" before it, which costs
    // nothing where the address could not be an option anyway. xdg-open refuses "--" as an
    // unknown option, so it gets the address alone.
    if (text.empty() || text.front() == '-') return false;
    for (char ch : text)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) return false;
    if (c->second == "xdg-open") return Start(c->second, {text});
    return Start(c->second, {"--", text});
}

std::optional<std::string> BrowserDde::Request(Hconv conversation, Hsz item, std::uint32_t, std::uint32_t) {
    if (!Open(conversation, item)) return std::nullopt;
    return std::string();
}

bool BrowserDde::Poke(Hconv conversation, Hsz item, const std::string&, std::uint32_t) {
    return Open(conversation, item);
}

// The command line is split at blanks and the first word started as a program; there is no
// shell in between. Only the program's own fixed command lines come here.
std::uint32_t BrowserDde::WinExec(const std::string& commandLine, int) {
    std::vector<std::string> words;
    std::string word;
    for (char ch : commandLine) {
        if (ch == ' ' || ch == '\t') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += ch;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    if (words.empty()) return kFileNotFound;
    const std::string program = words.front();
    words.erase(words.begin());
    return Start(program, words) ? 33 : kFileNotFound;
}

}  // namespace zumelko::platform::qt
