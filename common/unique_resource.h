// One scope-bound owner for every kind of Windows handle.
//
// UniqueResource<Traits> owns a single value and releases it through Traits::Close when it
// goes out of scope. Traits say what the value type is, which value means "none" and how
// a value is released; a value for which Traits::IsValid is false is never released. The
// holder moves and never copies, so every handle has exactly one owner. Per-type traits
// live beside the code that uses the handle kind (see common/handles.h for the common ones).
//
// Releasing never changes the thread's last error: a holder that goes out of scope while a
// failure is being raised must not overwrite the code the failure reports.
#pragma once

#include <windows.h>

#include <utility>

namespace vexo {

template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~UniqueResource() { reset(); }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // Releases the current value (if any) and takes ownership of `value`. The last error is
  // the same afterwards as before.
  void reset(Type value = Traits::kNone) noexcept {
    Type old = std::exchange(value_, value);
    if (Traits::IsValid(old)) {
      const DWORD last_error = ::GetLastError();
      Traits::Close(old);
      ::SetLastError(last_error);
    }
  }

  // Gives up ownership without releasing.
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::kNone); }

  // For APIs that return a value through an out-parameter. Releases what was held first.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::kNone;
};

// Traits for the common case: a pointer-like value whose only "none" is null, released by
// one function of one argument.
template <typename T, auto CloseFunction>
struct NullableTraits {
  using Type = T;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type value) noexcept { return value != nullptr; }
  static void Close(Type value) noexcept { CloseFunction(value); }
};

}  // namespace vexo
