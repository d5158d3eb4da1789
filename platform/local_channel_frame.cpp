#include "platform/local_channel_frame.h"

namespace velmora::platform {

namespace {
constexpr std::size_t MESSAGE_LIMIT = 16 * 1024 * 1024;
}  // namespace

bool FrameMessage(const std::string& bytes, std::string* framed) {
    if (bytes.size() > MESSAGE_LIMIT)
        return false;
    framed->assign(CHANNEL_HEAD_SIZE, '\0');
    for (std::size_t i = 0; i < CHANNEL_HEAD_SIZE; ++i)
        (*framed)[i] = static_cast<char>(bytes.size() >> (8 * i));
    *framed += bytes;
    return true;
}

bool FramedLength(const unsigned char (&head)[CHANNEL_HEAD_SIZE], std::size_t* size) {
    *size = head[0] | head[1] << 8 | head[2] << 16 | static_cast<std::size_t>(head[3]) << 24;
    return *size <= MESSAGE_LIMIT;
}

}  // namespace velmora::platform
