#include "transport/PacketReassembler.h"

#include <utility>

namespace zumelko {

std::optional<std::size_t> PacketReassembler::Announced(std::size_t ceiling) const {
    const std::uint32_t v = static_cast<std::uint32_t>(length_[0]) | (static_cast<std::uint32_t>(length_[1]) << 8) |
                            (static_cast<std::uint32_t>(length_[2]) << 16) |
                            (static_cast<std::uint32_t>(length_[3]) << 24);
    const auto length = static_cast<std::int32_t>(v);
    if (length < 0 || static_cast<std::size_t>(length) > ceiling) return std::nullopt;
    return static_cast<std::size_t>(length);
}

void PacketReassembler::Begin(std::size_t expected) {
    lengthGot_ = 0;
    expected_ = expected;
    payload_ = MemoryStream{};
    firstNul_ = std::string_view::npos;
    // Where growing a block moves it, the packet's whole length (and a NUL a text may need put
    // after it) is set aside as address space alone: the block still takes memory only as the
    // bytes arrive, and never moves.
    if (expected > kFirstRead) payload_.ReserveAddress(expected + 1);
}

std::size_t PacketReassembler::NextRead(std::size_t budget) const {
    const std::size_t have = payload_.Size();
    return std::min({expected_ - have, std::clamp(have, kFirstRead, kMostRead), budget});
}

std::size_t PacketReassembler::GrowthFor(std::size_t want) const {
    const std::size_t have = payload_.Size();
    const std::size_t capacity = payload_.Capacity();
    if (have + want <= capacity) return capacity;
    const std::size_t factor = have >= kMostRead ? 4 : 2;
    return std::min(expected_, std::max(have + want, capacity * factor));
}

MemoryStream PacketReassembler::TakePayload() {
    MemoryStream taken = std::exchange(payload_, MemoryStream{});
    taken.SetPosition(0);
    return taken;
}

}  // namespace zumelko
