#pragma once
// Components are created with an owner and destroyed with it. The owner keeps them in
// creation order and destroys them last-created first.
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zumelko {

class Component {
public:
    explicit Component(Component* owner) : owner_(owner) {}
    virtual ~Component();
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    Component* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    // Runs once after the owner has set the published properties.
    virtual void Loaded() {}

    // Creates a component owned by this one; its constructor takes the owner first.
    template <typename T, typename... A>
    T& Create(A&&... args) {
        auto made = std::make_unique<T>(this, std::forward<A>(args)...);
        T& ref = *made;
        components_.push_back(std::move(made));
        return ref;
    }

    std::size_t ComponentCount() const { return components_.size(); }
    Component& ComponentAt(std::size_t i) const { return *components_[i]; }
    // Destroys a component this one owns; does nothing for one it does not own.
    void DestroyComponent(Component& c);

private:
    Component* owner_;
    std::string name_;
    std::vector<std::unique_ptr<Component>> components_;
};

}  // namespace zumelko
