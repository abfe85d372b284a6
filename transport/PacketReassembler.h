#pragma once
// One length-framed packet arriving on one connection, as both channels frame theirs: a 4-byte
// little-endian signed length, then that many payload bytes. The payload's buffer grows with the
// bytes that arrive, never with the announced length alone, and its owner makes room among its
// other connections before each growth, so that anyone on the network announcing gigabytes gets
// nothing for it. Bytes come through a read function with the results of a non-blocking receive
// (int read(void* into, int most): bytes got, 0 or less when none), from a socket or from a TLS
// session alike.
//
// Also here: how a channel keeps its arriving packets together under its bounds, by giving up the
// connection that has been quiet longest.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>

#include "framework/Stream.h"

namespace zumelko {

class PacketReassembler {
public:
    // The first read of a payload asks for this much; later reads for as much as has arrived, so
    // the buffer grows with the bytes actually received.
    static constexpr std::size_t kFirstRead = 256 * 1024;
    // Nor does one read ask for more than this.
    static constexpr std::size_t kMostRead = std::size_t{4} << 20;

    // Reads into the length field what it still lacks; returns what read returned.
    template <typename Read>
    int ReadLength(Read&& read) {
        const int n = read(length_.data() + lengthGot_, 4 - lengthGot_);
        if (n > 0) lengthGot_ += n;
        return n;
    }
    bool LengthWhole() const { return lengthGot_ == 4; }
    // The whole length field's value when it is neither negative nor above ceiling.
    std::optional<std::size_t> Announced(std::size_t ceiling) const;

    // The payload of the announced length starts (the length field is free for the next packet).
    void Begin(std::size_t expected);
    std::size_t Expected() const { return expected_; }
    std::size_t Received() const { return payload_.Size(); }
    bool Complete() const { return payload_.Size() == expected_; }
    // Bytes the buffer holds, arrived or not: what counts against a channel's ceiling.
    std::size_t Capacity() const { return payload_.Capacity(); }

    // How much the next read asks for: what the packet lacks, bounded as above and by budget.
    std::size_t NextRead(std::size_t budget) const;
    // The capacity the buffer must have before a read of want bytes: Capacity() when it has room.
    // Twice what is held, and four times once a peer has sent kMostRead: where the system cannot
    // grow a block in place (Windows) every growth copies what is held, which for a big packet
    // came to a whole extra copy of it. The block still grows only when bytes fill it, so it is
    // never more than four times what arrived.
    std::size_t GrowthFor(std::size_t want) const;
    // Throws std::bad_alloc when the memory cannot be had.
    void Grow(std::size_t capacity) { payload_.Reserve(capacity); }

    // Reads at most want bytes (room for them made) into the payload; returns what read returned.
    template <typename Read>
    int ReadPayload(Read&& read, std::size_t want) {
        const std::size_t have = payload_.Size();
        std::uint8_t* dst = payload_.WriteSpace(want);
        const int n = read(dst, static_cast<int>(std::min<std::size_t>(want, std::size_t{1} << 30)));
        if (n <= 0) return n;
        if (firstNul_ == std::string_view::npos) {
            if (const void* nul = std::memchr(dst, 0, static_cast<std::size_t>(n)))
                firstNul_ = have + static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - dst);
        }
        payload_.Commit(static_cast<std::size_t>(n));
        return n;
    }

    // The payload, position 0, taken out; the reassembler holds nothing of it afterwards.
    MemoryStream TakePayload();
    // Where the payload's first NUL is, found as the bytes arrived, so that a large text is never
    // searched through in one turn of the loop; npos when it has none.
    std::size_t FirstNul() const { return firstNul_; }

private:
    std::array<std::uint8_t, 4> length_{};
    int lengthGot_ = 0;
    std::size_t expected_ = 0;
    MemoryStream payload_;
    std::size_t firstNul_ = std::string_view::npos;
};

namespace reassembly {

template <typename T>
struct IsPointer : std::false_type {};
template <typename T>
struct IsPointer<std::unique_ptr<T>> : std::true_type {};

// A channel's connection, kept in its map by value or by pointer.
template <typename V>
decltype(auto) Entry(V& value) {
    if constexpr (IsPointer<std::remove_const_t<V>>::value) {
        return *value;
    } else {
        return (value);
    }
}

// Marks a connection's latest activity. One clock for every channel, so that channels sharing
// one budget can tell which of their connections has been quiet longest.
inline std::uint64_t NextActivity() {
    static std::atomic<std::uint64_t> clock{0};
    return ++clock;
}

// The connection quiet longest (least lastActivity) among those eligible(connection) takes,
// other than keep; end() when there is none.
template <typename Map, typename Eligible>
typename Map::iterator Quietest(Map& connections, const typename Map::key_type& keep, Eligible&& eligible) {
    auto quietest = connections.end();
    for (auto it = connections.begin(); it != connections.end(); ++it) {
        if (it->first == keep || !eligible(Entry(it->second))) continue;
        if (quietest == connections.end() || Entry(it->second).lastActivity < Entry(quietest->second).lastActivity)
            quietest = it;
    }
    return quietest;
}

// Bytes held for all the connections' packets.
template <typename Map>
std::size_t Capacity(const Map& connections) {
    std::size_t total = 0;
    for (const auto& [key, value] : connections) total += Entry(value).packet.Capacity();
    return total;
}

// With more than most connections arriving once keep has joined them, gives up (drop) the
// quietest other arriving one.
template <typename Map, typename Arriving, typename Drop>
void LimitArriving(Map& connections, const typename Map::key_type& keep, std::size_t most, Arriving&& arriving,
                   Drop&& drop) {
    std::size_t count = 0;
    for (auto& [key, value] : connections) count += arriving(Entry(value)) ? 1 : 0;
    if (count <= most) return;
    const auto quietest = Quietest(connections, keep, arriving);
    if (quietest != connections.end()) drop(quietest->first);
}

// Gives up (drop) the quietest arriving packets that hold memory until keep's packet can grow by
// extra bytes within ceiling; false when keep itself is gone meanwhile (a drop may run the loop).
// The packet itself fits within the ceiling (its length was checked), so giving up every other
// arriving one always makes room.
template <typename Map, typename Arriving, typename Drop>
bool MakeRoom(Map& connections, const typename Map::key_type& keep, std::size_t extra, std::size_t ceiling,
              Arriving&& arriving, Drop&& drop) {
    while (connections.count(keep) != 0 && Capacity(connections) + extra > ceiling) {
        const auto quietest =
            Quietest(connections, keep, [&](const auto& in) { return arriving(in) && in.packet.Capacity() != 0; });
        if (quietest == connections.end()) break;
        drop(quietest->first);
    }
    return connections.count(keep) != 0;
}

}  // namespace reassembly

}  // namespace zumelko
