#include "core/AllowedSenders.h"

#include <cstdio>

#include "platform/Desktop.h"

namespace zumelko {

namespace {

platform::Sockets& Api() { return platform::Current().sockets(); }

void SayNoAddress(const std::string& name) {
    std::fprintf(stderr, "zumelko: the allowed sender \"%s\" has no address now\n", Printable(name).c_str());
}

}  // namespace

std::string Printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

TAllowedSenders::TAllowedSenders(Component* owner)
    : Component(owner),
      window_([this](std::uint32_t m, platform::WParam w, platform::LParam l) { return WndProc(m, w, l); }) {}

TAllowedSenders::~TAllowedSenders() {
    for (Entry& e : entries_) Cancel(e);
}

void TAllowedSenders::Cancel(Entry& entry) {
    if (entry.request == 0) return;
    // An answer already on its way is dropped by WndProc: nobody waits for it any more.
    (void)Api().WSACancelAsyncRequest(entry.request);
    entry.request = 0;
}

void TAllowedSenders::SetNames(const std::vector<std::string>& names) {
    std::vector<Entry> old = std::move(entries_);
    entries_.clear();
    auto& s = Api();
    for (const std::string& name : names) {
        if (name.empty()) continue;
        bool listed = false;
        for (const Entry& e : entries_) listed = listed || e.name == name;
        if (listed) continue;
        Entry entry{name, std::nullopt, 0};
        for (Entry& e : old) {
            if (e.name == name) entry.addr = e.addr;
        }
        if (const std::uint32_t addr = s.InetAddr(name); addr != platform::INADDR_NONE_) {
            entry.addr = addr;
        } else {
            entry.request = s.WSAAsyncGetHostByName(window_.get(), kAnswerMessage, name);
            if (entry.request == 0) {
                entry.addr.reset();
                SayNoAddress(name);
            }
        }
        entries_.push_back(std::move(entry));
    }
    for (Entry& e : old) Cancel(e);
}

bool TAllowedSenders::Allows(std::uint32_t addr) const {
    for (const Entry& e : entries_) {
        if (e.addr == addr) return true;
    }
    return false;
}

std::size_t TAllowedSenders::Pending() const {
    std::size_t n = 0;
    for (const Entry& e : entries_) n += e.request != 0;
    return n;
}

platform::LResult TAllowedSenders::WndProc(std::uint32_t message, platform::WParam w, platform::LParam l) {
    if (message != kAnswerMessage) return 0;
    const auto request = static_cast<platform::AsyncHandle>(w);
    std::uint32_t addr = 0;
    // Taken whatever the answer, so the desktop forgets the request.
    const bool taken = Api().TakeHostAddress(request, addr);
    const bool found = taken && platform::SelectError(l) == 0;
    for (Entry& e : entries_) {
        if (request == 0 || e.request != request) continue;
        e.request = 0;
        if (found) {
            e.addr = addr;
        } else {
            e.addr.reset();
            SayNoAddress(e.name);
        }
        OnResolved(this);
        break;
    }
    return 0;
}

}  // namespace zumelko
