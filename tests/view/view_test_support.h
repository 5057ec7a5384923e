#pragma once
// Shared set-up for the view tests: fresh globals and tables, scratch folders,
// universe.dat images and log capture.
#include "client/wire.h"
#include "view/link.h"
#include "view/state.h"
#include "view/universe.h"

#include <cstdint>
#include <string>
#include <vector>

namespace viewtest {

// Puts every shared record and global back to its program-start value and
// installs link hooks that record what the link does.
void ResetViewState();

struct SentMessage {
    std::vector<std::uint8_t> bytes;
    bool guaranteed;
    DWORD timeout;
};
struct BoxShown {
    std::string text, caption;
    UINT type;
};
struct LinkRecorder {
    std::vector<SentMessage> sent;
    std::vector<BoxShown> boxes;
    std::vector<int> exits;
    int closePosts = 0;
    DWORD roundTrip = 0;
    HRESULT sendResult = S_OK;
};
// The recorder the installed hooks write to (cleared by ResetViewState).
LinkRecorder& Recorder();

// A fresh folder under the system's temporary folder, removed at exit.
std::string ScratchFolder();
std::string ReadFile(const std::string& path);

// Opens the log in a scratch folder; LogText() returns what was written.
void CaptureLog();
std::string LogText();

// One record of universe.dat as the file lays it out.
struct UniverseRecord {
    std::int16_t kind = 0;
    float angleA = 0, angleB = 0, angleC = 0, distance = 0, rateB = 0, rateA = 0, scale = 0, tilt = 0;
    float hitRadius = 0, polygon = 0;
};
// The file image of nine records (offset 999 + 1000 i), filler bytes 0xEE.
std::vector<std::uint8_t> UniverseImage(const std::vector<UniverseRecord>& records);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// StatusPacket bytes as they arrive.
void Deliver(const StatusPacket& packet);
inline void Deliver(std::uint8_t type, std::uint8_t vessel, float x = 0, float y = 0, float z = 0, float w = 0)
{
    Deliver(MakeStatusPacket(type, vessel, x, y, z, w));
}
void DeliverEvent(const EventPacket& packet, std::size_t size = EVENT_PACKET_SIZE);

}  // namespace viewtest
