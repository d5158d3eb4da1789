// The framing of the local channel's messages on every system: a 4-byte little-endian length, then the
// bytes. Commands and their answers are small: longer messages are refused.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

inline constexpr std::size_t CHANNEL_HEAD_SIZE = 4;

// The message with its length before it; false when it is too long to send.
bool FrameMessage(const std::string& bytes, std::string* framed);
// The length a head announces; false when it is too long to take.
bool FramedLength(const unsigned char (&head)[CHANNEL_HEAD_SIZE], std::size_t* size);

}  // namespace velmora::platform
