// A library that tests/test_allocation_failure.py builds and preloads into a Python
// process (LD_PRELOAD) to make the module's C++ allocations fail on demand: operator
// new, and malloc and realloc called from one range of code (the module's, where its
// output buffers call them; the interpreter's own calls are left alone).
//
// quorvel_fail_from(k, persistent) arms it: the k-th such allocation from then on
// fails (operator new throws std::bad_alloc, malloc and realloc return null), and
// with `persistent` every one after it too.  quorvel_disarm() stops that and returns
// how many allocations were seen since arming, so that a caller knows when k has
// gone past the last allocation of a call.  One thread only: the test calls the
// module from its main thread.
#include <cstddef>
#include <cstdint>
#include <new>

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_realloc(void* p, std::size_t size);

namespace {

bool armed = false;
bool persistent = false;
long fail_at = 0;
long seen = 0;
std::uintptr_t code_begin = 0;
std::uintptr_t code_end = 0;

bool fails() noexcept {
    if (!armed) return false;
    const long n = seen++;
    return n == fail_at || (persistent && n > fail_at);
}

bool from_module(const void* caller) noexcept {
    const auto at = reinterpret_cast<std::uintptr_t>(caller);
    return at >= code_begin && at < code_end;
}

void* new_or_throw(std::size_t size) {
    if (fails()) throw std::bad_alloc();
    void* p = __libc_malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

extern "C" {

void quorvel_set_module_code(std::uintptr_t begin, std::uintptr_t end) {
    code_begin = begin;
    code_end = end;
}

void quorvel_fail_from(long k, int keep_failing) {
    fail_at = k;
    persistent = keep_failing != 0;
    seen = 0;
    armed = true;
}

long quorvel_disarm() {
    armed = false;
    return seen;
}

void* malloc(std::size_t size) {
    if (from_module(__builtin_return_address(0)) && fails()) return nullptr;
    return __libc_malloc(size);
}

void* realloc(void* p, std::size_t size) {
    if (from_module(__builtin_return_address(0)) && fails()) return nullptr;
    return __libc_realloc(p, size);
}

}  // extern "C"

// Everything that operator new allocates goes back through free (libstdc++'s
// operator delete), which is glibc's own.
void* operator new(std::size_t size) {
    return new_or_throw(size);
}

void* operator new[](std::size_t size) {
    return new_or_throw(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (fails()) return nullptr;
    return __libc_malloc(size == 0 ? 1 : size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (fails()) return nullptr;
    return __libc_malloc(size == 0 ? 1 : size);
}
