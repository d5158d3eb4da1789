#include "app/service_markers.h"

#include "platform/file.h"

namespace velmora {

using namespace platform;

void CServiceMarkers::SetFolder(const std::u16string& baseFolder) {
    for (int i = 0; i < 3; ++i)
        MarkerPath[static_cast<std::size_t>(i)] = baseFolder + u"QLSsynch" + static_cast<char16_t>(u'0' + i);
}

bool CServiceMarkers::MarkerPresent(int index) const {
    CNativeFile file;
    return !file.Open(MarkerPath[static_cast<std::size_t>(index)], OPEN_READ | SHARE_DENY_NONE);
}

bool CServiceMarkers::CreateMarker(int index) const {
    if (index < 0 || index > 2)
        return false;
    CNativeFile file;
    return !file.Open(MarkerPath[static_cast<std::size_t>(index)],
                      OPEN_WRITE | OPEN_CREATE | SHARE_DENY_NONE);
}

bool CServiceMarkers::RemoveMarker(int index) const {
    if (index < 0 || index > 2)
        return false;
    return !RemoveFile(MarkerPath[static_cast<std::size_t>(index)]);
}

void CServiceMarkers::RemoveAllMarkers() const {
    for (int i = 0; i < 3; ++i)
        RemoveMarker(i);
}

bool CServiceMarkers::IsStopRequested() const {
    return MarkerPresent(MARKER_STOP_REQUESTED);
}

bool CServiceMarkers::IsPauseRequested() const {
    return !MarkerPresent(MARKER_STOP_REQUESTED) && MarkerPresent(MARKER_PAUSE_REQUESTED) &&
           !MarkerPresent(MARKER_PAUSED);
}

bool CServiceMarkers::IsPaused() const {
    return !MarkerPresent(MARKER_STOP_REQUESTED) && MarkerPresent(MARKER_PAUSED) &&
           !MarkerPresent(MARKER_PAUSE_REQUESTED);
}

}  // namespace velmora
