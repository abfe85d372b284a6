#include "platform/NetResourcePacker.h"

#include <cstring>

namespace zumelko::platform {

namespace {
bool HasComment(const NetResourceEntry& e) { return e.comment != nullptr && !e.comment->empty(); }
}  // namespace

std::size_t PackedSize(const NetResourceEntry& e) {
    std::size_t size = sizeof(NetResource);
    if (e.remoteName != nullptr) size += e.remoteName->size() + 1;
    if (HasComment(e)) size += e.comment->size() + 1;
    if (e.provider != nullptr) size += e.provider->size() + 1;
    return size;
}

char* NetResourcePacker::Place(const std::string& text) {
    stringsStart_ -= text.size() + 1;
    std::memcpy(base_ + stringsStart_, text.c_str(), text.size() + 1);
    return base_ + stringsStart_;
}

bool NetResourcePacker::Add(const NetResourceEntry& e) {
    if (base_ == nullptr || stringsStart_ < recordsEnd_ || stringsStart_ - recordsEnd_ < PackedSize(e)) return false;
    NetResource record;
    record.dwScope = RESOURCE_GLOBALNET_;
    record.dwType = RESOURCETYPE_ANY_;
    record.dwDisplayType = e.displayType;
    record.dwUsage = e.usage;
    if (e.provider != nullptr) record.lpProvider = Place(*e.provider);
    if (e.remoteName != nullptr) record.lpRemoteName = Place(*e.remoteName);
    if (HasComment(e)) record.lpComment = Place(*e.comment);
    std::memcpy(base_ + recordsEnd_, &record, sizeof record);
    recordsEnd_ += sizeof record;
    return true;
}

}  // namespace zumelko::platform
