#pragma once
// Simulated browsers: DDE servers known by service and topic that record every connect,
// request and poke, a program starter whose programs may start a server, and a default
// browser that may be there or not.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dde.h"

namespace zumelko::platform::sim {

struct SimDdeTransaction {
    std::uint32_t type;  // XTYP_REQUEST_ or XTYP_POKE_
    std::string item;
    std::string data;  // the poke's bytes as received, NUL included
    std::uint32_t format;
    std::uint32_t timeoutMs;  // TIMEOUT_ASYNC_ for a poke
};

class SimBrowserServer {
public:
    SimBrowserServer(std::string service, std::string topic) : service_(std::move(service)), topic_(std::move(topic)) {}
    const std::string& Service() const { return service_; }
    const std::string& Topic() const { return topic_; }

    // Only a running server answers a connect.
    bool running = true;
    // The reply to every request; nothing: refused (or timed out).
    std::optional<std::string> reply = std::string("0");
    // Whether pokes are accepted.
    bool acceptPokes = true;

    int connects = 0;
    int disconnects = 0;
    std::vector<SimDdeTransaction> transactions;
    // Conversations open with it now.
    std::vector<Hconv> conversations;

private:
    std::string service_;
    std::string topic_;
};

class SimDde final : public Dde {
public:
    // The string handles a text longer than this cannot be made into, as DDEML has it.
    static constexpr std::size_t kMaxStringHandle = 255;

    struct Program {
        std::uint32_t result = 33;  // what WinExec gives back: 32 or more means started
        SimBrowserServer* starts = nullptr;  // set running when started
    };
    struct Exec {
        std::string commandLine;
        int show;
    };

    std::uint32_t Initialize() override;
    void Uninitialize() override { initialized_ = false; }
    Hsz CreateStringHandle(const std::string& text) override;
    void FreeStringHandle(Hsz handle) override;
    Hconv Connect(Hsz service, Hsz topic) override;
    void Disconnect(Hconv conversation) override;
    std::optional<std::string> Request(Hconv conversation, Hsz item, std::uint32_t format,
                                       std::uint32_t timeoutMs) override;
    bool Poke(Hconv conversation, Hsz item, const std::string& data, std::uint32_t format) override;
    void SetDisconnectHandler(std::function<void(Hconv)> handler) override { onDisconnect_ = std::move(handler); }
    std::uint32_t WinExec(const std::string& commandLine, int show) override;
    // Taken by the default browser while there is one; noted either way.
    bool ShellExecuteOpen(const std::string& address) override {
        shellOpens.push_back(address);
        return defaultBrowser;
    }

    // Servers are matched case-insensitively, as DDE names are.
    SimBrowserServer& AddServer(const std::string& service, const std::string& topic);
    // A program WinExec can start by this exact command line; any other fails with 2 (file
    // not found).
    Program& AddProgram(const std::string& commandLine);
    // The server ends the conversation by itself: the client is told.
    void PartnerDisconnect(Hconv conversation);

    const std::vector<Exec>& Execs() const { return execs_; }
    // Connect calls made, answered or not.
    int ConnectAttempts() const { return connectAttempts_; }
    // Handles freed twice or never made, and disconnects of conversations not open.
    int Misuses() const { return misuses_; }
    std::size_t LiveStringHandles() const { return strings_.size(); }
    std::size_t OpenConversations() const { return conversations_.size(); }
    bool Initialized() const { return initialized_; }

    // Initialize fails with this DDEML code when it is not 0.
    std::uint32_t initError = DMLERR_NO_ERROR_;
    // CreateStringHandle fails for every text while set.
    bool failStringHandles = false;
    // Whether the desktop has a default browser, and every address handed to it.
    bool defaultBrowser = false;
    std::vector<std::string> shellOpens;

private:
    SimBrowserServer* ServerOf(Hconv conversation);
    std::optional<std::string> TextOf(Hsz handle) const;

    std::vector<std::unique_ptr<SimBrowserServer>> servers_;
    std::map<std::string, Program> programs_;
    std::map<Hsz, std::string> strings_;
    std::map<Hconv, SimBrowserServer*> conversations_;
    std::function<void(Hconv)> onDisconnect_;
    std::vector<Exec> execs_;
    Hsz nextString_ = 0xC000;
    Hconv nextConversation_ = 0x7000;
    int connectAttempts_ = 0;
    int misuses_ = 0;
    bool initialized_ = false;
};

}  // namespace zumelko::platform::sim
