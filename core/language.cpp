#include "core/language.h"

#include "platform/registry.h"
#include "text/text_util.h"

namespace velmora {

Language LanguageFromValue(const std::u16string& value) {
    if (EqualsNoCase(value, u"FR"))
        return Language::French;
    if (EqualsNoCase(value, u"JA"))
        return Language::Japanese;
    return Language::English;
}

void SelectLanguage() {
    std::u16string value;
    if (!platform::ReadRegistryString(u"Lang", &value))
        value.clear();
    SetThreadLanguage(LanguageFromValue(value));
}

}  // namespace velmora
