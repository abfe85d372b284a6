#pragma once
// One ceiling on what several receiving channels hold together for items still arriving. Each
// channel alone keeps its own ceiling; the plain data port and the encrypted port of one program
// share one of these instead, so that connections spread over both ports get no more memory
// than connections on one. A packet that needs room gives up the arriving packets that have been
// quiet longest, on whichever channel they are; when even that leaves no room, the asking packet
// is given up itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Sockets.h"
#include "transport/PacketReassembler.h"

namespace zumelko {

class ReceiveBudget {
public:
    explicit ReceiveBudget(std::size_t ceiling) : ceiling_(ceiling) {}
    ReceiveBudget(const ReceiveBudget&) = delete;
    ReceiveBudget& operator=(const ReceiveBudget&) = delete;


    // A channel's arriving packets as the budget sees them; joins at construction, leaves at
    // destruction. Sockets are the system's, so no two channels share one.
    class Member {
    public:
        explicit Member(std::shared_ptr<ReceiveBudget> budget);
        virtual ~Member();
        Member(const Member&) = delete;
        Member& operator=(const Member&) = delete;

        // Gives up packets, the quietest first on every channel of the budget, until the one on
        // socket can grow by extra bytes, or gives that one up; false when it is gone.
        bool MakeRoom(platform::SocketHandle socket, std::size_t extra) { return budget_->MakeRoom(*this, socket, extra); }

        struct Candidate {
            std::uint64_t lastActivity;
            platform::SocketHandle socket;
        };
        virtual std::size_t Held() = 0;
        // The quietest arriving packet that holds memory, other than keep's.
        virtual std::optional<Candidate> Quietest(platform::SocketHandle keep) = 0;
        virtual bool Holds(platform::SocketHandle socket) = 0;
        virtual void Drop(platform::SocketHandle socket) = 0;

    private:
        std::shared_ptr<ReceiveBudget> budget_;
    };

    // Bytes held by every member.
    std::size_t Held() const;

private:
    bool MakeRoom(Member& asker, platform::SocketHandle keep, std::size_t extra);

    std::size_t ceiling_;
    std::vector<Member*> members_;  // not owned: each leaves as it is destroyed
};

namespace reassembly {

// A channel's connections (see the functions above) as a member of a budget.
template <typename Map, typename Arriving, typename DropFn>
class BudgetShare final : public ReceiveBudget::Member {
public:
    BudgetShare(std::shared_ptr<ReceiveBudget> budget, Map& connections, Arriving arriving, DropFn drop)
        : Member(std::move(budget)), connections_(connections), arriving_(arriving), drop_(std::move(drop)) {}
    std::size_t Held() override { return Capacity(connections_); }
    std::optional<Candidate> Quietest(platform::SocketHandle keep) override {
        const auto it = reassembly::Quietest(connections_, keep,
                                             [&](const auto& in) { return arriving_(in) && in.packet.Capacity() != 0; });
        if (it == connections_.end()) return std::nullopt;
        return Candidate{Entry(it->second).lastActivity, it->first};
    }
    bool Holds(platform::SocketHandle socket) override { return connections_.count(socket) != 0; }
    void Drop(platform::SocketHandle socket) override { drop_(socket); }

private:
    Map& connections_;
    Arriving arriving_;
    DropFn drop_;
};

template <typename Map, typename Arriving, typename DropFn>
std::unique_ptr<ReceiveBudget::Member> ShareBudget(std::shared_ptr<ReceiveBudget> budget, Map& connections,
                                                   Arriving arriving, DropFn drop) {
    if (!budget) return nullptr;
    return std::make_unique<BudgetShare<Map, Arriving, DropFn>>(std::move(budget), connections, arriving, std::move(drop));
}

}  // namespace reassembly

}  // namespace zumelko
