#pragma once

#include <cstdint>

// One port triple of the legacy window: the command socket's port, the broadcast socket's port (also
// where the announcement and the answer to "check" go) and the check socket's port. A channel does not
// change once made.
class ConnectChannel {
public:
    static ConnectChannel channelWithCommandPort(std::int32_t commandPort, std::int32_t broadcastPort,
                                                 std::int32_t checkPort);

    std::int32_t CommandPort() const { return commandPort_; }
    std::int32_t BroadcastPort() const { return broadcastPort_; }
    std::int32_t CheckPort() const { return checkPort_; }

private:
    ConnectChannel(std::int32_t commandPort, std::int32_t broadcastPort, std::int32_t checkPort);

    std::int32_t commandPort_;
    std::int32_t broadcastPort_;
    std::int32_t checkPort_;
};
