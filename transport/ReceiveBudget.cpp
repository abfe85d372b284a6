#include "transport/ReceiveBudget.h"

#include <algorithm>

namespace zumelko {

ReceiveBudget::Member::Member(std::shared_ptr<ReceiveBudget> budget) : budget_(std::move(budget)) {
    budget_->members_.push_back(this);
}

ReceiveBudget::Member::~Member() { std::erase(budget_->members_, this); }

std::size_t ReceiveBudget::Held() const {
    std::size_t total = 0;
    for (Member* m : members_) total += m->Held();
    return total;
}

bool ReceiveBudget::MakeRoom(Member& asker, platform::SocketHandle keep, std::size_t extra) {
    // A drop may run the loop, in which the asking packet may go too: looked at every time.
    while (asker.Holds(keep) && Held() + extra > ceiling_) {
        Member* from = nullptr;
        std::optional<Member::Candidate> quietest;
        for (Member* m : members_) {
            const auto candidate = m->Quietest(keep);
            if (candidate && (!quietest || candidate->lastActivity < quietest->lastActivity)) {
                quietest = candidate;
                from = m;
            }
        }
        if (from == nullptr) {
            // Nothing else left to give up (the ceiling is below this packet's own size).
            asker.Drop(keep);
            break;
        }
        from->Drop(quietest->socket);
    }
    return asker.Holds(keep);
}

}  // namespace zumelko
