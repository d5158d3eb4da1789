// Holds a file open without sharing, as another program would: hold_file PATH MILLISECONDS.
// Prints "held" once the file is held, then releases it after the given time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/ansi.h"
#include "platform/file.h"

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    velmora::platform::CNativeFile file;
    if (file.Open(velmora::platform::AnsiToUnicode(argv[1]),
                  velmora::platform::OPEN_READ_WRITE | velmora::platform::OPEN_CREATE |
                      velmora::platform::OPEN_NO_TRUNCATE | velmora::platform::SHARE_EXCLUSIVE)) {
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
}
