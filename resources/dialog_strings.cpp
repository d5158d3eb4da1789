#include "resources/string_sources.h"

namespace velmora {

std::span<const StringEntry> DialogStrings() {
    return {};
}

}  // namespace velmora
