#pragma once
// A plain blocking-socket peer for tests: speaks the packet format byte for byte, without any of
// the program's code, so the tests check the wire itself.
#include <cstdint>
#include <optional>
#include <string>

namespace zumelko::testing {

// Connects to addr:port, writes the 4-byte little-endian length and the payload, then waits
// (up to timeoutMs) for the other side to close. Returns true when it closed. A source address
// (such as 127.0.0.9) makes the connection come from there.
bool RawSendPacket(const std::string& addr, int port, const std::string& payload, int timeoutMs = 5000,
                   const std::string& source = {});
// Writes exactly these bytes, then waits for the close (or the time-out); true when it closed.
bool RawSendBytes(const std::string& addr, int port, const std::string& bytes, int timeoutMs = 5000,
                  const std::string& source = {});

// How a connection that sent a packet ended: the receiver closed in order (it took the packet),
// reset it (it refused it), or neither within the time.
enum class Ending { Closed, Reset, None };
Ending RawSendPacketEnding(const std::string& addr, int port, const std::string& payload, int timeoutMs = 5000,
                           const std::string& source = {});

// Listens on addr:port (address reuse on, so a test can follow another at once).
class RawListener {
public:
    RawListener(const std::string& addr, int port);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;
    bool ok() const { return fd_ >= 0; }
    // Accepts one connection, reads one whole packet (length field included) and closes it.
    // Returns the raw bytes read (length field and payload), or nothing on time-out.
    std::optional<std::string> ReceivePacket(int timeoutMs = 5000);

private:
    int fd_ = -1;
};

std::string LengthPrefixed(const std::string& payload);

}  // namespace zumelko::testing
