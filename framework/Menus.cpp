#include "framework/Menus.h"

#include "platform/Desktop.h"

namespace zumelko {

void PopupMenu::Remove(std::size_t index) {
    if (index < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

void PopupMenu::Popup(int x, int y) { platform::Current().ui().TrackPopupMenu(*this, x, y); }

}  // namespace zumelko
