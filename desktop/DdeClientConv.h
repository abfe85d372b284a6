#pragma once
// A client conversation with a DDE server (a web browser): names, connect (starting the
// server's program once when it does not answer), request, poke, disconnect.
#include <cstdint>
#include <optional>
#include <string>

#include "framework/Component.h"
#include "platform/Dde.h"

namespace zumelko {

class TDdeClientConv final : public Component {
public:
    static constexpr std::uint32_t kRequestTimeoutMs = 10000;

    explicit TDdeClientConv(Component* owner) : Component(owner) {}
    ~TDdeClientConv() override;

    const std::string& ServiceName() const { return service_; }
    const std::string& TopicName() const { return topic_; }
    // Ends any open conversation first; never connects by itself.
    void SetLink(const std::string& service, const std::string& topic);

    // True when a conversation is open afterwards; false when one was open already.
    bool Connect();
    bool Connected() const { return conversation_ != 0; }
    // Synchronous, at most 10 seconds: the reply up to its NUL, or nothing.
    std::optional<std::string> Request(const std::string& item);
    // Asynchronous: true when the transaction was started. The data goes with its NUL.
    bool Poke(const std::string& item, const std::string& data);
    void Disconnect();

    std::uint32_t DataFormat() const { return format_; }

    // Whether a text can go as an item at all (DDEML's names hold at most 255 characters).
    static bool CanCarry(const std::string& item);

private:
    static void PartnerDisconnected(platform::Dde& dde, platform::Hconv conversation);
    void ForgetConversation();

    std::string service_;
    std::string topic_;
    platform::Hconv conversation_ = 0;
    platform::Hsz serviceHandle_ = 0;
    platform::Hsz topicHandle_ = 0;
    std::uint32_t format_ = 1;  // CF_TEXT
};

// The process's DDE instance, for as long as the program runs. Raises Error with the text
// the user is shown when it cannot be set up.
class DdeInstance {
public:
    DdeInstance();
    ~DdeInstance();
    DdeInstance(const DdeInstance&) = delete;
    DdeInstance& operator=(const DdeInstance&) = delete;
};

// The text for a DDEML error code met at start-up.
std::string DdeErrorText(std::uint32_t code);

}  // namespace zumelko
