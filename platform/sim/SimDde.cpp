#include "platform/sim/SimDde.h"

#include <algorithm>
#include <cctype>

namespace zumelko::platform::sim {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::uint32_t SimDde::Initialize() {
    if (initError != DMLERR_NO_ERROR_) return initError;
    initialized_ = true;
    return DMLERR_NO_ERROR_;
}

Hsz SimDde::CreateStringHandle(const std::string& text) {
    // A C string: whatever follows a NUL is not part of it.
    std::string name = text.substr(0, text.find('\0'));
    if (failStringHandles || name.size() > kMaxStringHandle) return 0;
    const Hsz handle = nextString_++;
    strings_.emplace(handle, std::move(name));
    return handle;
}

void SimDde::FreeStringHandle(Hsz handle) {
    if (strings_.erase(handle) == 0) ++misuses_;
}

std::optional<std::string> SimDde::TextOf(Hsz handle) const {
    auto it = strings_.find(handle);
    if (it == strings_.end()) return std::nullopt;
    return it->second;
}

SimBrowserServer& SimDde::AddServer(const std::string& service, const std::string& topic) {
    servers_.push_back(std::make_unique<SimBrowserServer>(service, topic));
    return *servers_.back();
}

SimDde::Program& SimDde::AddProgram(const std::string& commandLine) { return programs_[commandLine]; }

Hconv SimDde::Connect(Hsz service, Hsz topic) {
    ++connectAttempts_;
    const std::optional<std::string> serviceName = service != 0 ? TextOf(service) : std::optional<std::string>("");
    const std::optional<std::string> topicName = topic != 0 ? TextOf(topic) : std::optional<std::string>("");
    if (!serviceName || !topicName) {
        ++misuses_;  // a handle that does not exist (any more)
        return 0;
    }
    for (auto& server : servers_) {
        if (!server->running) continue;
        if (service != 0 && !SameName(server->Service(), *serviceName)) continue;
        if (topic != 0 && !SameName(server->Topic(), *topicName)) continue;
        const Hconv conversation = nextConversation_++;
        conversations_.emplace(conversation, server.get());
        server->conversations.push_back(conversation);
        ++server->connects;
        return conversation;
    }
    return 0;
}

SimBrowserServer* SimDde::ServerOf(Hconv conversation) {
    auto it = conversations_.find(conversation);
    return it == conversations_.end() ? nullptr : it->second;
}

void SimDde::Disconnect(Hconv conversation) {
    SimBrowserServer* server = ServerOf(conversation);
    if (server == nullptr) {
        ++misuses_;
        return;
    }
    ++server->disconnects;
    std::erase(server->conversations, conversation);
    conversations_.erase(conversation);
}

void SimDde::PartnerDisconnect(Hconv conversation) {
    SimBrowserServer* server = ServerOf(conversation);
    if (server == nullptr) return;
    std::erase(server->conversations, conversation);
    conversations_.erase(conversation);
    if (onDisconnect_) onDisconnect_(conversation);
}

std::optional<std::string> SimDde::Request(Hconv conversation, Hsz item, std::uint32_t format,
                                           std::uint32_t timeoutMs) {
    SimBrowserServer* server = ServerOf(conversation);
    const std::optional<std::string> itemName = TextOf(item);
    if (server == nullptr || !itemName) {
        ++misuses_;
        return std::nullopt;
    }
    server->transactions.push_back({XTYP_REQUEST_, *itemName, {}, format, timeoutMs});
    return server->reply;
}

bool SimDde::Poke(Hconv conversation, Hsz item, const std::string& data, std::uint32_t format) {
    SimBrowserServer* server = ServerOf(conversation);
    const std::optional<std::string> itemName = TextOf(item);
    if (server == nullptr || !itemName) {
        ++misuses_;
        return false;
    }
    server->transactions.push_back({XTYP_POKE_, *itemName, data, format, TIMEOUT_ASYNC_});
    return server->acceptPokes;
}

std::uint32_t SimDde::WinExec(const std::string& commandLine, int show) {
    execs_.push_back({commandLine, show});
    auto it = programs_.find(commandLine);
    if (it == programs_.end()) return 2;  // ERROR_FILE_NOT_FOUND
    const Program& program = it->second;
    if (program.result >= 32 && program.starts != nullptr) program.starts->running = true;
    return program.result;
}

}  // namespace zumelko::platform::sim
