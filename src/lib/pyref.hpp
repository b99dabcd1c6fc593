// Owners of Python references and buffer views, so that every early return
// releases what the call holds.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>
#include <utility>

namespace quorvel {

// One owned (strong) reference.
class PyRef {
public:
    PyRef() noexcept = default;
    explicit PyRef(PyObject* owned) noexcept : p_(owned) {}
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(p_);
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~PyRef() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    // Hands the reference to the caller.
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// Holds the per-object lock of a free-threaded build for its scope; nothing in a
// build with the GIL.
class ObjectLock {
public:
#ifdef Py_GIL_DISABLED
    explicit ObjectLock(PyObject* obj) noexcept {
        PyCriticalSection_Begin(&section_, obj);
    }
    ~ObjectLock() {
        PyCriticalSection_End(&section_);
    }
#else
    explicit ObjectLock(PyObject* /*obj*/) noexcept {}
#endif
    ObjectLock(const ObjectLock&) = delete;
    ObjectLock& operator=(const ObjectLock&) = delete;

private:
#ifdef Py_GIL_DISABLED
    PyCriticalSection section_;
#endif
};

// A buffer view taken with PyObject_GetBuffer, released exactly once.
//
// Both happen under the lock of the object the view was asked of.  The free-threaded
// CPython 3.13 counts the exports of a bytearray, an array.array and a memoryview
// without a lock or atomics (CPython issues 129107 and 128942, fixed in 3.14, whose
// exporters take that same lock themselves): two threads taking or giving back views
// of one object at once could lose a count, after which the object can be resized
// under a view that is still held, or never again.  Holding the lock makes the
// module's own exports of one object follow each other.  The object is the caller's
// argument, alive for the whole call, so it outlives the reference the release drops.
class BufferView {
public:
    BufferView() noexcept = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() { release(); }

    // Requests the view; on failure nothing is held and the exception is set.
    bool acquire(PyObject* obj, int flags) noexcept {
        release();
        ObjectLock lock(obj);
        if (PyObject_GetBuffer(obj, &view_, flags) != 0) return false;
        owner_ = obj;
        return true;
    }
    void release() noexcept {
        if (owner_ != nullptr) {
            ObjectLock lock(std::exchange(owner_, nullptr));
            PyBuffer_Release(&view_);
        }
    }
    const Py_buffer& view() const noexcept { return view_; }
    std::string_view bytes() const noexcept {
        return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
    PyObject* owner_ = nullptr;  // borrowed: the argument whose view is held
};

}  // namespace quorvel
