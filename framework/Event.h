#pragma once
// Events are bound member functions (or any callable) that may be left unattached.
// Firing an unattached event does nothing, so components never check before they fire.
#include <functional>
#include <utility>

namespace zumelko {

template <typename... Args>
class Event {
public:
    Event() = default;
    template <typename F, typename = std::enable_if_t<std::is_invocable_v<F&, Args...>>>
    Event(F f) : fn_(std::move(f)) {}  // NOLINT(google-explicit-constructor): assigning a handler reads naturally
    template <typename T>
    Event(T* object, void (T::*method)(Args...))
        : fn_([object, method](Args... args) { (object->*method)(args...); }) {}

    explicit operator bool() const { return static_cast<bool>(fn_); }
    void operator()(Args... args) const {
        if (fn_) fn_(args...);
    }
    void Clear() { fn_ = nullptr; }

private:
    std::function<void(Args...)> fn_;
};

}  // namespace zumelko
