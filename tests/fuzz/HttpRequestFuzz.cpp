// The bytes a client of the LAN HTTP server sends on one connection, arriving in pieces: the first
// byte of the input picks the size of the pieces, the rest is what the client sent. The requests are
// taken as the server's connections take them; every answer must be one the server gives, a refusal
// must end the connection, and no more bytes may ever wait than a head and one read.
#include "remote/LanHttpRequests.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t piece = size_t(data[0] % 64) + 1;
    ++data;
    --size;
    const LanHttpRequests::Limits limits{512, 16, 1024}; // small, so that fuzzing reaches every limit
    LanHttpRequests requests(limits);
    size_t sent = 0;
    while (true) {
        const auto answer = requests.next();
        check(requests.waiting() <= limits.maxHeadBytes + LanHttpRequests::kReadChunk);
        if (answer) {
            if (answer->document) {
                check(answer->whole.isEmpty() && !answer->refused);
                continue;
            }
            const int status = answer->whole.mid(9, 3).toInt();
            check(answer->whole.startsWith("HTTP/1.1 ") && answer->whole.endsWith("\r\n\r\n"));
            check(status == 405 ? !answer->refused
                                : (status == 400 || status == 411 || status == 413 || status == 431));
            if (answer->refused)
                break; // the connection ends
            continue;
        }
        if (sent == size)
            break; // the client has nothing more to send
        const auto room = requests.prepare();
        check(room.size() > 0);
        const size_t n = std::min({piece, room.size(), size - sent});
        std::memcpy(room.data(), data + sent, n);
        requests.commit(n);
        sent += n;
    }
    return 0;
}
