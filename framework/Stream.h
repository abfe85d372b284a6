#pragma once
// Byte streams: the growable in-memory buffer that carries packets and pictures,
// and the abstract stream that pictures read from and write to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

#include "platform/AddressSpace.h"

namespace zumelko {

class Stream {
public:
    virtual ~Stream() = default;
    // Reads up to count bytes at the position; returns how many were read.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes count bytes at the position, growing the stream when needed.
    virtual void Write(const void* buffer, std::size_t count) = 0;
    virtual std::size_t Size() const = 0;
    virtual std::size_t Position() const = 0;
    virtual void SetPosition(std::size_t position) = 0;
    std::size_t Remaining() const { return Size() > Position() ? Size() - Position() : 0; }
};

// One contiguous block with a size and a read/write position.
// Blocks are grown with realloc, which on Linux remaps the pages of a large block instead of
// copying them, but on Windows copies it at every growth. A block whose final size is known can
// have its address space set aside first (ReserveAddress), and then grows in place within it on
// every system: pages are committed as it fills, nothing moves.
class MemoryStream final : public Stream {
public:
    MemoryStream() = default;
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    // A stream moved from is empty, not a size without a block.
    MemoryStream(MemoryStream&& other) noexcept
        : data_(std::move(other.data_)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)),
          position_(std::exchange(other.position_, 0)) {
        other.data_ = Block{};
    }
    MemoryStream& operator=(MemoryStream&& other) noexcept {
        if (this == &other) return *this;
        data_ = std::move(other.data_);
        other.data_ = Block{};
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        position_ = std::exchange(other.position_, 0);
        return *this;
    }

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::size_t Size() const override { return size_; }
    std::size_t Position() const override { return position_; }
    void SetPosition(std::size_t position) override { position_ = position; }

    std::uint8_t* Data() { return data_.get(); }
    const std::uint8_t* Data() const { return data_.get(); }
    std::string_view View() const {
        return {reinterpret_cast<const char*>(data_.get()), size_};
    }
    std::size_t Capacity() const { return capacity_; }

    // Discards the contents: size n (bytes zeroed), position 0.
    void Reset(std::size_t n);
    // Changes the size, keeping the first min(old, n) bytes; new bytes are zero.
    void SetSize(std::size_t n);
    // Makes room for at least n bytes in all without changing size or position.
    void Reserve(std::size_t n);
    // Frees the block: size, capacity and position 0.
    void Clear();
    // On an empty stream, sets aside address space for up to n bytes, so that the block grows
    // to n without a copy or a move. Holds no memory: Capacity still counts only what Reserve
    // and the writes asked for. When the space cannot be had, nothing changes.
    void ReserveAddress(std::size_t n);
    // Becomes a block of `size` bytes from malloc, as it is: size and capacity `size`, the
    // position at its end. Whatever the stream held before is gone.
    void Adopt(platform::MallocBytes block, std::size_t size);

    // The largest block any memory stream may hold from now on; a larger one fails with
    // std::bad_alloc as an exhausted heap would. Lets the program's handling of a failed
    // allocation be tried without exhausting the machine. 0 lifts the limit.
    static void SetBlockLimit(std::size_t bytes);

    // Direct writing at the position: WriteSpace(n) makes room for n bytes and returns where
    // they go; Commit(got) then accepts got (<= n) of them, as Write would have.
    std::uint8_t* WriteSpace(std::size_t n);
    void Commit(std::size_t got);

private:
    // A block from malloc, or (reserved != 0) address space set aside by ReserveAddress.
    struct BlockDeleter {
        BlockDeleter() noexcept : reserved(0) {}
        explicit BlockDeleter(std::size_t space) noexcept : reserved(space) {}
        void operator()(std::uint8_t* p) const;
        std::size_t reserved;
    };
    // (Assigning {} would take the nullptr overload and keep the deleter: assign Block{}.)
    using Block = std::unique_ptr<std::uint8_t, BlockDeleter>;
    void GrowTo(std::size_t needed);

    Block data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t position_ = 0;
};

}  // namespace zumelko
