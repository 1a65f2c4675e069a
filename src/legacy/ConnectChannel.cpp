#include "ConnectChannel.h"

ConnectChannel::ConnectChannel(std::int32_t commandPort, std::int32_t broadcastPort, std::int32_t checkPort)
    : commandPort_(commandPort)
    , broadcastPort_(broadcastPort)
    , checkPort_(checkPort) {}

ConnectChannel ConnectChannel::channelWithCommandPort(std::int32_t commandPort, std::int32_t broadcastPort,
                                                      std::int32_t checkPort) {
    return ConnectChannel(commandPort, broadcastPort, checkPort);
}
