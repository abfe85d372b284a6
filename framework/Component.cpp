#include "framework/Component.h"

#include <algorithm>

namespace zumelko {

Component::~Component() {
    while (!components_.empty()) {
        // Pop first so a component that looks at its siblings while dying sees a consistent list.
        std::unique_ptr<Component> last = std::move(components_.back());
        components_.pop_back();
        last.reset();
    }
}

void Component::DestroyComponent(Component& c) {
    auto it = std::find_if(components_.begin(), components_.end(),
                           [&c](const std::unique_ptr<Component>& p) { return p.get() == &c; });
    if (it == components_.end()) return;
    std::unique_ptr<Component> doomed = std::move(*it);
    components_.erase(it);
}

}  // namespace zumelko
