#include "desktop/NetUtility.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string_view>

#include "framework/Error.h"
#include "platform/Desktop.h"
#include "platform/Network.h"

namespace zumelko {

using platform::EnumHandle;
using platform::Network;
using platform::NetResource;

namespace {

// Aligned so a desktop may build its record in place; we copy it out all the same.
struct alignas(std::max_align_t) EntryBuffer {
    std::array<char, TNetUtility::kBufferSize> bytes{};
};

// An open enumeration, closed however Detect is left.
class Enumeration {
public:
    Enumeration(Network& net, const NetResource* parent) : net_(net) {
        open_ = net.WNetOpenEnum(platform::RESOURCE_GLOBALNET_, platform::RESOURCETYPE_ANY_, 0, parent, handle_) ==
                platform::NO_ERROR_;
    }
    ~Enumeration() {
        if (open_) net_.WNetCloseEnum(handle_);
    }
    Enumeration(const Enumeration&) = delete;
    Enumeration& operator=(const Enumeration&) = delete;

    bool Open() const { return open_; }

    // One entry into the buffer; its record is copied to entry. NO_ERROR_ or why not.
    std::uint32_t Read(EntryBuffer& buffer, NetResource& entry) {
        if (!open_) return platform::ERROR_NO_MORE_ITEMS_;
        std::uint32_t count = 1;
        std::uint32_t size = TNetUtility::kBufferSize;
        const std::uint32_t result = net_.WNetEnumResource(handle_, count, buffer.bytes.data(), size);
        if (result != platform::NO_ERROR_) return result;
        if (count == 0) return platform::ERROR_NO_MORE_ITEMS_;  // nothing was written
        static_assert(sizeof(NetResource) <= TNetUtility::kBufferSize);
        std::memcpy(&entry, buffer.bytes.data(), sizeof entry);
        return platform::NO_ERROR_;
    }

private:
    Network& net_;
    EnumHandle handle_ = 0;
    bool open_ = false;
};

// The text a string pointer of the entry names. The strings normally live in the buffer after
// the record; there they are read no further than its end, so a missing NUL cannot run off it.
std::string EntryText(const EntryBuffer& buffer, const char* text) {
    const char* begin = buffer.bytes.data();
    const char* end = begin + buffer.bytes.size();
    if (std::less_equal<const char*>()(begin, text) && std::less<const char*>()(text, end)) {
        return std::string(text, ::strnlen(text, static_cast<std::size_t>(end - text)));
    }
    return std::string(text);
}

// Reads the first entry of parent's members into buffer (parent null: the top of the tree).
// False when there is none, so that nothing is opened from a buffer no read has filled.
bool DescendToFirst(Network& net, const NetResource* parent, EntryBuffer& buffer, NetResource& entry) {
    Enumeration level(net, parent);
    return level.Read(buffer, entry) == platform::NO_ERROR_;
}

std::string AskName(bool (Network::*call)(char*, std::uint32_t&)) {
    // One byte more than the system is told of, so the text always ends inside the buffer.
    std::array<char, TNetUtility::kNameBufferSize + 1> buffer{};
    std::uint32_t size = TNetUtility::kNameBufferSize;
    if (!(platform::Current().network().*call)(buffer.data(), size)) return {};
    return std::string(buffer.data(), ::strnlen(buffer.data(), TNetUtility::kNameBufferSize));
}

}  // namespace

bool IsAddressLiteral(std::string_view name) {
    if (name.find(':') != std::string_view::npos || name.starts_with('[')) return true;
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    if (name.empty()) return false;
    if (name.find_first_not_of("0123456789.") == std::string_view::npos) return true;
    // One to four parts, each a number: decimal, octal with a leading 0, or hexadecimal.
    int parts = 0;
    for (std::size_t begin = 0; begin <= name.size();) {
        std::size_t end = name.find('.', begin);
        if (end == std::string_view::npos) end = name.size();
        std::string_view part = name.substr(begin, end - begin);
        if (++parts > 4) return false;
        if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
            if (part.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string_view::npos) return false;
        } else if (part.empty() || part.find_first_not_of("0123456789") != std::string_view::npos) {
            return false;
        }
        begin = end + 1;
    }
    return true;
}

int TNetUtility::Detect() {
    machines_.Clear();
    workgroup_ = 0;
    Network& net = platform::Current().network();
    EntryBuffer buffer;
    NetResource provider;
    NetResource workgroup;
    int counter = 0;

    // Only the first provider and its first workgroup or domain are visited.
    std::optional<Enumeration> members;
    if (DescendToFirst(net, nullptr, buffer, provider) && DescendToFirst(net, &provider, buffer, workgroup)) {
        members.emplace(net, &workgroup);
        NetResource entry;
        while (counter < kMaxMachines && members->Read(buffer, entry) == platform::NO_ERROR_) {
            if (entry.lpRemoteName == nullptr) continue;
            // The remote name is two backslashes and the machine's name.
            const std::string remote = EntryText(buffer, entry.lpRemoteName);
            std::string name = remote.size() > 2 ? remote.substr(2) : std::string();
            if (IsAddressLiteral(name)) continue;
            machines_.Add(std::move(name));
            ++counter;
        }
    }
    workgroup_ = Count();
    AddDiscovered(machines_, net.DiscoveredMachines(), ComputerName());
    OnDetected(this);
    return Count();
}

void TNetUtility::AddDiscovered(StringList& machines, std::vector<std::string> discovered, const std::string& self) {
    const auto lower = [](std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    };
    std::sort(discovered.begin(), discovered.end(),
              [&](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
    std::set<std::string> known;
    known.insert(lower(self));
    for (const auto& name : machines) known.insert(lower(name));
    for (auto& name : discovered) {
        if (name.empty() || IsAddressLiteral(name)) continue;
        if (known.insert(lower(name)).second) machines.Add(std::move(name));
    }
}

int TNetUtility::SecurePortIn(const std::vector<std::string>& txt) {
    const std::string_view key = platform::kSecureTxtKey;
    bool found = false;
    int port = 0;
    for (const std::string& entry : txt) {
        const std::size_t eq = entry.find('=');
        const std::string_view name = std::string_view(entry).substr(0, eq);
        if (name.size() != key.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < key.size(); ++i) {
            char c = name[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            same = same && c == key[i];
        }
        if (!same) continue;
        if (found) return 0;  // twice: nothing to go by
        found = true;
        if (eq == std::string::npos) continue;
        const std::string_view value = std::string_view(entry).substr(eq + 1);
        if (value.empty() || value.size() > 5) continue;
        int number = 0;
        bool digits = true;
        for (const char c : value) {
            digits = digits && c >= '0' && c <= '9';
            if (digits) number = number * 10 + (c - '0');
        }
        if (digits && number >= 1 && number <= 65535) port = number;
    }
    return port;
}

int TNetUtility::SecurePort(const std::string& machine) const {
    const auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return out;
    };
    if (machine.empty()) return 0;
    const std::string wanted = lower(machine);
    for (const auto& record : platform::Current().network().DiscoveredRecords()) {
        if (lower(record.machine) != wanted) continue;
        if (const int port = SecurePortIn(record.txt)) return port;
    }
    return 0;
}

const std::string& TNetUtility::MachineName(int index) const {
    if (index < 0 || index >= Count()) throw Error("ﾘｽﾄのｲﾝﾃﾞｯｸｽが範囲を超えています");
    return machines_[static_cast<std::size_t>(index)];
}

std::string TNetUtility::UserName() const { return AskName(&Network::GetUserName); }

std::string TNetUtility::ComputerName() const { return AskName(&Network::GetComputerName); }

}  // namespace zumelko
