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

// A buffer view taken with PyObject_GetBuffer, released exactly once.
class BufferView {
public:
    BufferView() noexcept = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() { release(); }

    // Requests the view; on failure nothing is held and the exception is set.
    bool acquire(PyObject* obj, int flags) noexcept {
        release();
        if (PyObject_GetBuffer(obj, &view_, flags) != 0) return false;
        held_ = true;
        return true;
    }
    void release() noexcept {
        if (held_) {
            held_ = false;
            PyBuffer_Release(&view_);
        }
    }
    const Py_buffer& view() const noexcept { return view_; }
    std::string_view bytes() const noexcept {
        return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace quorvel
