// One small move-only owner for Windows handles, with the invalid value part
// of the type, and the aliases the shell uses. Selecting a GDI object returns
// a guard that selects the previous one back: declare the owned object before
// its guard, so that it is deselected before it is deleted.
#pragma once
#include <windows.h>
#include <winspool.h>

#include <utility>

// Not used here: kept while some callers still reach the text casts through
// this header rather than including them themselves.

template <typename Traits>
class UniqueAny {
 public:
  using Type = typename Traits::Type;

  UniqueAny() noexcept = default;
  explicit UniqueAny(Type value) noexcept : value_(value) {}
  ~UniqueAny() { reset(); }
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  Type get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }
  Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // Closes the held handle; false when the platform reports that closing failed.
  bool reset(Type value = Traits::Invalid()) noexcept {
    bool closed = true;
    if (value_ != Traits::Invalid()) closed = Traits::Close(value_);
    value_ = value;
    return closed;
  }
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

namespace handle_traits {
template <typename T, BOOL(WINAPI* CloseFn)(T)>
struct NullInvalid {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return CloseFn(h) != FALSE; }
};
struct Printer : NullInvalid<HANDLE, ClosePrinter> {};
struct Dc : NullInvalid<HDC, DeleteDC> {};
struct ScreenDc {
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return ReleaseDC(nullptr, h) != 0; }
};
template <typename T>
struct GdiObject {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return DeleteObject(h) != FALSE; }
};
struct Kernel : NullInvalid<HANDLE, CloseHandle> {};
struct File {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Type h) noexcept { return CloseHandle(h) != FALSE; }
};
struct Sid {
  using Type = PSID;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return FreeSid(h) == nullptr; }
};
struct Global {
  using Type = HGLOBAL;
  static Type Invalid() noexcept { return nullptr; }
  static bool Close(Type h) noexcept { return GlobalFree(h) == nullptr; }
};
}  // namespace handle_traits

using UniquePrinter = UniqueAny<handle_traits::Printer>;
using UniqueDc = UniqueAny<handle_traits::Dc>;
using UniqueScreenDc = UniqueAny<handle_traits::ScreenDc>;
using UniqueFont = UniqueAny<handle_traits::GdiObject<HFONT>>;
using UniqueBitmap = UniqueAny<handle_traits::GdiObject<HBITMAP>>;
using UniqueMutex = UniqueAny<handle_traits::Kernel>;
using UniqueFile = UniqueAny<handle_traits::File>;
using UniqueSid = UniqueAny<handle_traits::Sid>;
using UniqueGlobal = UniqueAny<handle_traits::Global>;

// Selects an object into a DC and selects the previous one back when it ends.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectGuard() { restore(); }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

  bool selected() const noexcept { return previous_ != nullptr && previous_ != HGDI_ERROR; }
  // Selects the previous object back now; false when that fails.
  bool restore() noexcept {
    if (!selected()) return true;
    const HGDIOBJ back = SelectObject(dc_, previous_);
    previous_ = nullptr;
    return back != nullptr && back != HGDI_ERROR;
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};
