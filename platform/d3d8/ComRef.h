// TComRef<T>: a counted reference to a reference-counted platform object.
// Storing a pointer takes a reference of its own; clearing, overwriting or
// destroying the holder releases it. Attach adopts a reference that the
// caller already owns (what a Create... out parameter hands over).
#pragma once

#include <cstddef>
#include <utility>

template <class T>
class TComRef {
public:
    TComRef() = default;
    TComRef(std::nullptr_t) {}
    TComRef(T* object) : ptr_(object) { AddRefIfSet(); }
    TComRef(const TComRef& other) : ptr_(other.ptr_) { AddRefIfSet(); }
    TComRef(TComRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ~TComRef() { Clear(); }

    TComRef& operator=(T* object) {
        if (object != nullptr) object->AddRef();
        Clear();
        ptr_ = object;
        return *this;
    }
    TComRef& operator=(const TComRef& other) { return *this = other.ptr_; }
    TComRef& operator=(TComRef&& other) noexcept {
        if (this != &other) {
            Clear();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    TComRef& operator=(std::nullptr_t) {
        Clear();
        return *this;
    }

    // Releases the held reference, if any.
    void Clear() {
        if (T* old = std::exchange(ptr_, nullptr)) old->Release();
    }
    // Takes over a reference already counted for the caller.
    void Attach(T* object) {
        Clear();
        ptr_ = object;
    }
    // Gives up the reference without releasing it.
    [[nodiscard]] T* Detach() { return std::exchange(ptr_, nullptr); }
    // Releases the held reference and answers the slot for an out parameter
    // that will receive a counted reference.
    T** ReleaseAndGetAddressOf() {
        Clear();
        return &ptr_;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    friend bool operator==(const TComRef& a, const TComRef& b) { return a.ptr_ == b.ptr_; }
    friend bool operator==(const TComRef& a, const T* b) { return a.ptr_ == b; }
    friend bool operator==(const TComRef& a, std::nullptr_t) { return a.ptr_ == nullptr; }

private:
    void AddRefIfSet() {
        if (ptr_ != nullptr) ptr_->AddRef();
    }

    T* ptr_ = nullptr;
};
