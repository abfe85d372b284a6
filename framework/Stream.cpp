#include "framework/Stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/AddressSpace.h"

namespace zumelko {

namespace {
std::atomic<std::size_t> blockLimit{0};
}  // namespace

void MemoryStream::SetBlockLimit(std::size_t bytes) { blockLimit.store(bytes, std::memory_order_relaxed); }

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
    if (position_ >= size_) return 0;
    const std::size_t n = std::min(count, size_ - position_);
    if (n > 0) std::memcpy(buffer, data_.get() + position_, n);
    position_ += n;
    return n;
}

void MemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return;
    std::uint8_t* dst = WriteSpace(count);
    std::memcpy(dst, buffer, count);
    Commit(count);
}

void MemoryStream::BlockDeleter::operator()(std::uint8_t* p) const {
    if (reserved != 0) {
        platform::ReleaseAddressSpace(p, reserved);
        return;
    }
    std::free(p);
}

void MemoryStream::ReserveAddress(std::size_t n) {
    if (data_ || n == 0) return;
    void* space = platform::ReserveAddressSpace(n);
    if (space == nullptr) return;
    data_ = Block(static_cast<std::uint8_t*>(space), BlockDeleter{n});
}

void MemoryStream::Adopt(platform::MallocBytes block, std::size_t size) {
    data_ = Block(block.release(), BlockDeleter{});
    capacity_ = data_ ? size : 0;
    size_ = capacity_;
    position_ = size_;
}

void MemoryStream::Reserve(std::size_t n) {
    if (n <= capacity_) return;
    const std::size_t limit = blockLimit.load(std::memory_order_relaxed);
    if (limit != 0 && n > limit) throw std::bad_alloc();
    if (const std::size_t reserved = data_.get_deleter().reserved; reserved != 0) {
        if (n <= reserved) {
            if (!platform::CommitAddressSpace(data_.get(), reserved, n)) throw std::bad_alloc();
            capacity_ = n;
            return;
        }
        // Past the space set aside: an ordinary block from here on.
        auto* moved = static_cast<std::uint8_t*>(std::malloc(n));
        if (moved == nullptr) throw std::bad_alloc();
        std::memcpy(moved, data_.get(), size_);
        data_ = Block(moved, BlockDeleter{});
        capacity_ = n;
        return;
    }
    auto* grown = static_cast<std::uint8_t*>(std::realloc(data_.get(), n));
    if (grown == nullptr) throw std::bad_alloc();
    (void)data_.release();
    data_.reset(grown);
    capacity_ = n;
}

void MemoryStream::GrowTo(std::size_t needed) {
    if (needed <= capacity_) return;
    // Geometric growth keeps appends amortised; realloc remaps large blocks in place.
    std::size_t target = std::max<std::size_t>(needed, capacity_ + capacity_ / 2);
    target = std::max<std::size_t>(target, 256);
    // Within space set aside, never past it.
    const std::size_t reserved = data_.get_deleter().reserved;
    if (needed <= reserved) target = std::min(target, reserved);
    Reserve(target);
}

void MemoryStream::Reset(std::size_t n) {
    size_ = 0;
    position_ = 0;
    SetSize(n);
}

void MemoryStream::SetSize(std::size_t n) {
    if (n > size_) {
        Reserve(n);
        std::memset(data_.get() + size_, 0, n - size_);
    }
    size_ = n;
    if (position_ > size_) position_ = size_;
}

void MemoryStream::Clear() {
    data_ = Block{};
    size_ = capacity_ = position_ = 0;
}

std::uint8_t* MemoryStream::WriteSpace(std::size_t n) {
    if (position_ > size_) SetSize(position_);
    GrowTo(position_ + n);
    return data_.get() + position_;
}

void MemoryStream::Commit(std::size_t got) {
    position_ += got;
    size_ = std::max(size_, position_);
}

}  // namespace zumelko
