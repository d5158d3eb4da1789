// The three marker files through which the service's control handler and main procedure, and the desktop
// program and the service, signal each other (in the base folder):
//   QLSsynch0  pause requested (by the handler)
//   QLSsynch1  paused (by the service main, once the server has stopped)
//   QLSsynch2  stop requested (by the handler)
#pragma once

#include <array>
#include <string>

namespace velmora {

inline constexpr int MARKER_PAUSE_REQUESTED = 0;
inline constexpr int MARKER_PAUSED = 1;
inline constexpr int MARKER_STOP_REQUESTED = 2;

class CServiceMarkers {
  public:
    // baseFolder ends with the path separator.
    void SetFolder(const std::u16string& baseFolder);

    // By index 0, 1, 2; other indexes do nothing and yield false.
    bool CreateMarker(int index) const;
    bool RemoveMarker(int index) const;
    void RemoveAllMarkers() const;
    bool IsStopRequested() const;
    bool IsPauseRequested() const;
    bool IsPaused() const;

  private:
    bool MarkerPresent(int index) const;

    std::array<std::u16string, 3> MarkerPath;
};

}  // namespace velmora
