#include "platform/keyboard.h"

#include <windows.h>

namespace velmora::platform {

CLockKeys LockKeyStates() {
    // The low bit of GetKeyState is the key's toggle state.
    return CLockKeys{(GetKeyState(VK_CAPITAL) & 1) != 0, (GetKeyState(VK_NUMLOCK) & 1) != 0,
                     (GetKeyState(VK_SCROLL) & 1) != 0};
}

}  // namespace velmora::platform
