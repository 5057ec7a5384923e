#pragma once
// Figures of the session layer. Objects take a copy when they are initialised.
#include <cstdint>

struct NetTuning {
    std::uint16_t basePort = 2302;        // the default port; first of the session range
    std::uint16_t portCount = 8;          // a busy port moves a host to the next in the range
    std::uint32_t enumCount = 5;          // defaults for EnumHosts arguments of 0
    std::uint32_t enumRetryMs = 200;
    std::uint32_t enumTimeoutMs = 200;
    std::uint32_t enumAnswersPerSecond = 200;  // a host answers at most this many queries
    std::uint32_t connectTimeoutMs = 5000;
    std::uint32_t handshakeTimeoutMs = 5000;   // a peer that connects but never joins is dropped
    std::uint32_t peerTimeoutMinMs = 5000;     // a silent peer is gone after min..max
    std::uint32_t peerTimeoutMaxMs = 10000;
    std::uint32_t closeLingerMs = 1000;        // Close waits at most this long for the flush
    std::uint32_t serviceIntervalMs = 5;       // longest sleep of a service thread with a socket
    std::uint32_t maxMessageSize = 64 * 1024;
    std::uint32_t maxPeers = 64;
};

// The figures in force. The base port defaults to 2302; the environment variable
// MERIDAX_NET_TEST_PORT_BASE (tests only) moves it when a test cannot have its own
// network namespace.
NetTuning GetNetTuning();
void SetNetTuning(const NetTuning& tuning);
