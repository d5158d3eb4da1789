// The owner of one system handle (a descriptor, a socket, a service manager handle): move-only, the only
// one to close the handle, once, at the latest when it goes.
#pragma once

#include <utility>

namespace velmora::platform {

// TTraits gives the handle's type (HandleType), the value that holds nothing (Invalid()) and how to close
// one (Close(handle): true, or false with the system's reason left as its last error).
template <typename TTraits>
class CHandleOwner {
  public:
    using HandleType = typename TTraits::HandleType;

    CHandleOwner() = default;
    explicit CHandleOwner(HandleType handle) noexcept : Handle(handle) {}
    ~CHandleOwner() { Close(); }
    CHandleOwner(CHandleOwner&& other) noexcept : Handle(other.Release()) {}
    CHandleOwner& operator=(CHandleOwner&& other) noexcept {
        if (this != &other) {
            Close();
            Handle = other.Release();
        }
        return *this;
    }
    CHandleOwner(const CHandleOwner&) = delete;
    CHandleOwner& operator=(const CHandleOwner&) = delete;

    HandleType Get() const { return Handle; }
    bool IsValid() const { return Handle != TTraits::Invalid(); }
    explicit operator bool() const { return IsValid(); }
    // Gives the handle up without closing it.
    HandleType Release() noexcept { return std::exchange(Handle, TTraits::Invalid()); }
    // Closes the handle now. False when the system reports a failure (for a descriptor: a write that did
    // not reach the file); closing nothing is no failure.
    bool Close() noexcept { return !IsValid() || TTraits::Close(Release()); }

  private:
    HandleType Handle = TTraits::Invalid();
};

}  // namespace velmora::platform
