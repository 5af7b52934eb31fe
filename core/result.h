// Failures come back as values: no exception crosses a module or an exported function.
#pragma once

#include <optional>
#include <string_view>
#include <utility>

namespace kolvy {

enum class Err : unsigned char {
    None = 0,
    NotFound,  // file, folder, key or item missing
    Exists,    // the target already exists
    Access,    // refused: permissions, sharing, read-only
    DiskFull,  // no space left
    Io,        // any other failure of the device or the call
    Invalid,   // the arguments cannot be used (bad name, out of range)
    NoMemory,
    Damaged,    // stored data is not in its format
    Cancelled,  // the user or an abort request stopped it
    Unsupported,
};

std::string_view errName(Err e);

// A value or the reason there is none.
template <class T>
class Result {
  public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    Result(Err e) : err_(e) {}                     // NOLINT(google-explicit-constructor)
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    Err error() const { return err_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    T& value() { return *value_; }
    T take() { return std::move(*value_); }

  private:
    std::optional<T> value_;
    Err err_ = Err::None;
};

inline std::string_view errName(Err e) {
    switch (e) {
        case Err::None:
            return "none";
        case Err::NotFound:
            return "not found";
        case Err::Exists:
            return "exists";
        case Err::Access:
            return "access denied";
        case Err::DiskFull:
            return "disk full";
        case Err::Io:
            return "i/o error";
        case Err::Invalid:
            return "invalid";
        case Err::NoMemory:
            return "out of memory";
        case Err::Damaged:
            return "damaged";
        case Err::Cancelled:
            return "cancelled";
        case Err::Unsupported:
            return "unsupported";
    }
    return "unknown";
}

}  // namespace kolvy
