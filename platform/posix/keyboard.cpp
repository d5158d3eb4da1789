#include "platform/keyboard.h"

#include <dirent.h>

#include <cstring>
#include <string>

#include "platform/posix/file_descriptor.h"

namespace velmora::platform {

namespace {

constexpr char LED_FOLDER[] = "/sys/class/leds";

bool EndsWith(const char* text, const char* suffix) {
    const std::size_t length = std::strlen(text);
    const std::size_t suffixLength = std::strlen(suffix);
    return length >= suffixLength && std::strcmp(text + length - suffixLength, suffix) == 0;
}

// A light is on when its brightness is not 0.
bool LightIsOn(const std::string& name) {
    const std::string path = std::string(LED_FOLDER) + "/" + name + "/brightness";
    std::string brightness;
    return ReadWholeFile(path, &brightness) && !brightness.empty() && brightness[0] != '0';
}

}  // namespace

CLockKeys LockKeyStates() {
    CLockKeys keys;
    const CFolderListing folder(opendir(LED_FOLDER));
    if (!folder)
        return keys;
    // Each keyboard has its own lights ("input3::capslock"); a key counts as on when any keyboard shows it.
    while (const dirent* entry = readdir(folder.get())) {
        if (EndsWith(entry->d_name, "::capslock"))
            keys.CapsLock = keys.CapsLock || LightIsOn(entry->d_name);
        else if (EndsWith(entry->d_name, "::numlock"))
            keys.NumLock = keys.NumLock || LightIsOn(entry->d_name);
        else if (EndsWith(entry->d_name, "::scrolllock"))
            keys.ScrollLock = keys.ScrollLock || LightIsOn(entry->d_name);
    }
    return keys;
}

}  // namespace velmora::platform
