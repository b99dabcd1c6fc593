#include "lib/output_buffer.hpp"

#include <cstdlib>
#include <limits>
#include <new>

namespace quorvel {

void OutputBuffer::grow(std::size_t needed) {
    if (needed > std::numeric_limits<std::size_t>::max() / 2 - size_) throw std::bad_alloc();
    const std::size_t doubled = 2 * capacity_;
    const std::size_t wanted = size_ + needed;
    reallocate(doubled > wanted ? doubled : wanted);
}

void OutputBuffer::reallocate(std::size_t capacity) {
    char* fresh = nullptr;
    if (on_heap()) {
        fresh = static_cast<char*>(std::realloc(data_, capacity));
        if (fresh == nullptr) throw std::bad_alloc();
    } else {
        fresh = static_cast<char*>(std::malloc(capacity));
        if (fresh == nullptr) throw std::bad_alloc();
        std::memcpy(fresh, inline_, size_);
    }
    data_ = fresh;
    capacity_ = capacity;
}

void OutputBuffer::release() noexcept {
    if (on_heap()) std::free(data_);
}

}  // namespace quorvel
