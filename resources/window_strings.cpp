#include "resources/string_sources.h"

namespace velmora {

std::span<const StringEntry> WindowStrings() {
    return {};
}

}  // namespace velmora
