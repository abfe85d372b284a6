#include "desktop/DdeClientConv.h"

#include <cstdio>
#include <map>
#include <utility>

#include "framework/Error.h"
#include "platform/Desktop.h"

namespace zumelko {

using platform::Current;
using platform::Dde;
using platform::Hconv;

namespace {

constexpr std::uint32_t kCfText = 1;

// Which object holds which open conversation, so that a partner's disconnect finds its object
// (what DDEML's user handle of a conversation is for).
std::map<std::pair<const Dde*, Hconv>, TDdeClientConv*>& Conversations() {
    static std::map<std::pair<const Dde*, Hconv>, TDdeClientConv*> conversations;
    return conversations;
}

}  // namespace

TDdeClientConv::~TDdeClientConv() { Disconnect(); }

void TDdeClientConv::SetLink(const std::string& service, const std::string& topic) {
    Disconnect();
    service_ = service;
    topic_ = topic;
}

bool TDdeClientConv::Connect() {
    if (conversation_ != 0) return false;
    if (service_.empty() && topic_.empty()) return false;
    Dde& dde = Current().dde();
    // A missing handle would make the connect match any server, so a name that cannot be
    // made a handle means no conversation. An empty name stays a wildcard, as it always is.
    if (serviceHandle_ == 0 && !service_.empty()) {
        serviceHandle_ = dde.CreateStringHandle(service_);
        if (serviceHandle_ == 0) return false;
    }
    if (topicHandle_ == 0 && !topic_.empty()) {
        topicHandle_ = dde.CreateStringHandle(topic_);
        if (topicHandle_ == 0) return false;
    }

    Hconv conversation = dde.Connect(serviceHandle_, topicHandle_);
    if (conversation == 0 && !service_.empty()) {
        // The server's program may simply not be running: start it once and ask again at once.
        if (dde.WinExec(service_ + " " + topic_, platform::SW_SHOWMINNOACTIVE_) >= 32) {
            conversation = dde.Connect(serviceHandle_, topicHandle_);
        }
    }
    if (conversation == 0) return false;

    conversation_ = conversation;
    Conversations()[{&dde, conversation}] = this;
    dde.SetDisconnectHandler([&dde](Hconv c) { PartnerDisconnected(dde, c); });
    // A fresh conversation reports no format of its own.
    format_ = kCfText;
    return true;
}

std::optional<std::string> TDdeClientConv::Request(const std::string& item) {
    if (conversation_ == 0) return std::nullopt;
    Dde& dde = Current().dde();
    const platform::Hsz itemHandle = dde.CreateStringHandle(item);
    if (itemHandle == 0) return std::nullopt;
    std::optional<std::string> reply = dde.Request(conversation_, itemHandle, format_, kRequestTimeoutMs);
    dde.FreeStringHandle(itemHandle);
    if (reply) {
        const std::size_t nul = reply->find('\0');
        if (nul != std::string::npos) reply->resize(nul);
    }
    return reply;
}

bool TDdeClientConv::Poke(const std::string& item, const std::string& data) {
    if (conversation_ == 0) return false;
    Dde& dde = Current().dde();
    const platform::Hsz itemHandle = dde.CreateStringHandle(item);
    if (itemHandle == 0) return false;
    std::string bytes = data;
    bytes.push_back('\0');
    const bool started = dde.Poke(conversation_, itemHandle, bytes, format_);
    dde.FreeStringHandle(itemHandle);
    return started;
}

bool TDdeClientConv::CanCarry(const std::string& item) {
    Dde& dde = Current().dde();
    const platform::Hsz handle = dde.CreateStringHandle(item);
    if (handle == 0) return false;
    dde.FreeStringHandle(handle);
    return true;
}

void TDdeClientConv::Disconnect() {
    Dde& dde = Current().dde();
    if (conversation_ != 0) {
        const Hconv conversation = conversation_;
        ForgetConversation();
        dde.Disconnect(conversation);
    }
    if (serviceHandle_ != 0) dde.FreeStringHandle(serviceHandle_);
    if (topicHandle_ != 0) dde.FreeStringHandle(topicHandle_);
    serviceHandle_ = 0;
    topicHandle_ = 0;
    service_.clear();
    topic_.clear();
}

void TDdeClientConv::ForgetConversation() {
    Conversations().erase({&Current().dde(), conversation_});
    conversation_ = 0;
}

void TDdeClientConv::PartnerDisconnected(Dde& dde, Hconv conversation) {
    auto& conversations = Conversations();
    auto it = conversations.find({&dde, conversation});
    if (it == conversations.end()) return;
    // The partner has already ended it: no DdeDisconnect of our own.
    TDdeClientConv* owner = it->second;
    conversations.erase(it);
    owner->conversation_ = 0;
}

DdeInstance::DdeInstance() {
    const std::uint32_t code = Current().dde().Initialize();
    if (code != platform::DMLERR_NO_ERROR_) throw Error(DdeErrorText(code));
}

DdeInstance::~DdeInstance() { Current().dde().Uninitialize(); }

std::string DdeErrorText(std::uint32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(code));
    const std::string shown = std::string("($0") + hex + ")";
    switch (code) {
    case platform::DMLERR_LOW_MEMORY_:
    case platform::DMLERR_MEMORY_ERROR_: return "DDE 実行時にﾒﾓﾘ不足ｴﾗｰが発生しました " + shown;
    case platform::DMLERR_NO_CONV_ESTABLISHED_: return "DDE ｴﾗｰ " + shown + " のため対話を確立できません";
    default: return "DDE がｴﾗｰを返しました " + shown;
    }
}

}  // namespace zumelko
