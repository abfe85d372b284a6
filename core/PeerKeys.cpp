#include "core/PeerKeys.h"

#include <algorithm>

namespace zumelko {

std::string DottedAddress(std::uint32_t address) {
    // Network byte order: the first octet is the lowest byte in memory.
    const auto* octet = reinterpret_cast<const unsigned char*>(&address);
    return std::to_string(octet[0]) + "." + std::to_string(octet[1]) + "." + std::to_string(octet[2]) + "." +
           std::to_string(octet[3]);
}

std::string PeerKeys::Name(const std::string& name) {
    if (name.empty()) return {};
    std::string key = "name:";
    for (const char c : name) key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return key;
}

std::string PeerKeys::Address(std::uint32_t address) {
    if (address == 0) return {};
    return "addr:" + DottedAddress(address);
}

KeyState PeerKeys::Note(const std::vector<std::string>& seen, const std::vector<std::string>& claimed,
                        const std::string& fingerprint) {
    bool same = false;
    bool changed = false;
    for (const auto* list : {&seen, &claimed}) {
        for (const std::string& w : *list) {
            const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.who == w; });
            if (w.empty() || it == entries_.end() || it->fingerprint.empty()) continue;
            (it->fingerprint == fingerprint ? same : changed) = true;
        }
    }
    ++clock_;
    for (const std::string& w : seen) Remember(w, fingerprint, false);
    for (const std::string& w : claimed) Remember(w, fingerprint, true);
    if (fingerprint.empty()) return KeyState::Unknown;
    if (changed) return KeyState::Changed;
    return same ? KeyState::Same : KeyState::First;
}

void PeerKeys::Remember(const std::string& who, const std::string& fingerprint, bool claimed) {
    if (who.empty()) return;
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.who == who; });
    if (it == entries_.end()) {
        if (entries_.size() >= kMaxEntries) {
            const auto older = [](const Entry& a, const Entry& b) {
                return a.claimedOnly != b.claimedOnly ? a.claimedOnly : a.used < b.used;
            };
            entries_.erase(std::min_element(entries_.begin(), entries_.end(), older));
        }
        entries_.push_back({who, {}, 0, true});
        it = entries_.end() - 1;
    }
    // An unknown key says nothing against the one last seen: that one stays.
    if (!fingerprint.empty()) it->fingerprint = fingerprint;
    it->used = clock_;
    it->claimedOnly = it->claimedOnly && claimed;
}

bool PeerKeys::Secured(const std::vector<std::string>& who) const {
    return std::any_of(who.begin(), who.end(), [&](const std::string& w) {
        return !w.empty() &&
               std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.who == w; });
    });
}

}  // namespace zumelko
