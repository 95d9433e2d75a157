// Move-only owners of system handles, so that no path forgets to close one.
#pragma once

#include <windows.h>

#include <utility>

template <typename T, typename Traits>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  [[nodiscard]] T get() const { return value_; }
  [[nodiscard]] bool valid() const { return Traits::valid(value_); }
  explicit operator bool() const { return valid(); }
  [[nodiscard]] T release() { return std::exchange(value_, T()); }
  void reset(T value = T()) {
    if (Traits::valid(value_)) Traits::close(value_);
    value_ = value;
  }

 private:
  T value_ = T();
};

// Both NULL and INVALID_HANDLE_VALUE mean "no handle": the API uses either.
struct FileHandleTraits {
  static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
  static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { FindClose(h); }
};
struct RegKeyTraits {
  static bool valid(HKEY k) { return k != nullptr; }
  static void close(HKEY k) { RegCloseKey(k); }
};
struct ServiceHandleTraits {
  static bool valid(SC_HANDLE h) { return h != nullptr; }
  static void close(SC_HANDLE h) { CloseServiceHandle(h); }
};

using UniqueHandle = UniqueResource<HANDLE, FileHandleTraits>;
using UniqueFindHandle = UniqueResource<HANDLE, FindHandleTraits>;
using UniqueRegKey = UniqueResource<HKEY, RegKeyTraits>;
using UniqueServiceHandle = UniqueResource<SC_HANDLE, ServiceHandleTraits>;
