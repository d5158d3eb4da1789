// velmora-lpr: sends files to a remote LPD print queue, one job per file, the way the system forwards jobs.
//
//   velmora-lpr [-p port] host queue file...
//
// Prints each file's outcome; the exit code is 0 when every file was sent, 1 when one was not, 2 for a
// wrong command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output/lpd_client.h"
#include "platform/ansi.h"

namespace {

constexpr int DEFAULT_PORT = 515;
constexpr std::size_t OUTCOME_LENGTH = 511;

int Usage() {
    std::fprintf(stderr, "usage: velmora-lpr [-p port] host queue file...\n");
    return 2;
}

bool ParsePort(const char* text, int* port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 65535)
        return false;
    *port = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int port = DEFAULT_PORT;
    int next = 1;
    if (next < argc && std::strcmp(argv[next], "-p") == 0) {
        if (next + 1 >= argc || !ParsePort(argv[next + 1], &port)) {
            std::fprintf(stderr, "velmora-lpr: -p needs a port from 1 to 65535\n");
            return Usage();
        }
        next += 2;
    }
    if (argc - next < 3)
        return Usage();
    const std::u16string host = velmora::platform::AnsiToUnicode(argv[next]);
    const std::u16string queue = velmora::platform::AnsiToUnicode(argv[next + 1]);

    int exitCode = 0;
    for (int i = next + 2; i < argc; ++i) {
        velmora::CLpdJobRequest request;
        request.Port = port;
        request.Host = host;
        request.Queue = queue;
        request.FilePath = request.DocumentName = velmora::platform::AnsiToUnicode(argv[i]);
        const velmora::CLpdSendResult result = velmora::SendJobByLpd(request);
        // The outcome as it has always been printed: up to a zero byte, at most OUTCOME_LENGTH bytes, without
        // the line end of a resolver failure.
        std::string text = std::string(result.Text.c_str()).substr(0, OUTCOME_LENGTH);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        std::fprintf(result.Code == 0 ? stdout : stderr, "%s: %s\n", argv[i], text.c_str());
        if (result.Code != 0)
            exitCode = 1;
    }
    return exitCode;
}
