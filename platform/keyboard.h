// The keyboard's lock keys, as the status bar's indicators show them.
#pragma once

namespace velmora::platform {

struct CLockKeys {
    bool CapsLock = false;
    bool NumLock = false;
    bool ScrollLock = false;
};

// Whether Caps Lock, Num Lock and Scroll Lock are on (GetKeyState's toggle bits; on Linux the keyboards'
// lock lights, which the window system keeps in step with its keyboard state). All off where it cannot
// be told, such as on a machine without a keyboard.
CLockKeys LockKeyStates();

}  // namespace velmora::platform
