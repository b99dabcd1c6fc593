// The output of a conversion: bytes appended in place, held inline while they fit
// in INLINE_CAPACITY (a point's text or EWKB needs no allocation) and on the heap
// beyond.  The caller reserves once from the input length; past the reservation the
// buffer doubles.  Writers that know an upper bound of what they write ask for that
// much room and write straight into it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace quorvel {

class OutputBuffer {
public:
    static constexpr std::size_t INLINE_CAPACITY = 256;

    OutputBuffer() noexcept = default;
    ~OutputBuffer() { release(); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    char* data() noexcept { return data_; }
    const char* data() const noexcept { return data_; }
    std::string_view view() const noexcept { return {data_, size_}; }
    std::string str() const { return std::string(data_, size_); }
    bool on_heap() const noexcept { return data_ != inline_; }

    // Makes the capacity at least n: inline up to INLINE_CAPACITY, else exactly n
    // bytes on the heap.  Throws std::bad_alloc when memory runs out.
    void reserve(std::size_t n) {
        if (n > capacity_) reallocate(n);
    }

    // Bytes that can be written past the end without growing.
    std::size_t spare() const noexcept { return capacity_ - size_; }
    // The end of the content, where up to spare() bytes may be written ...
    char* end() noexcept { return data_ + size_; }
    // ... and the new end after writing there.
    void set_end(char* end) noexcept { size_ = static_cast<std::size_t>(end - data_); }

    // Adds n bytes for the caller to write and returns where they start.
    char* claim(std::size_t n) {
        if (n > spare()) grow(n);
        char* at = data_ + size_;
        size_ += n;
        return at;
    }

    void append(const char* bytes, std::size_t n) {
        if (n > spare()) grow(n);
        std::memcpy(data_ + size_, bytes, n);
        size_ += n;
    }
    void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
    void append(std::size_t n, char c) {
        if (n > spare()) grow(n);
        std::memset(data_ + size_, c, n);
        size_ += n;
    }
    void push_back(char c) {
        if (spare() == 0) grow(1);
        data_[size_++] = c;
    }

private:
    // Room for at least `needed` more bytes: double the capacity, or more if needed.
    void grow(std::size_t needed);
    void reallocate(std::size_t capacity);
    void release() noexcept;

    char* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = INLINE_CAPACITY;
    char inline_[INLINE_CAPACITY];
};

}  // namespace quorvel
