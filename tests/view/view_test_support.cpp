#include "view_test_support.h"

#include "tests/support/scratch.h"
#include "view/log_file.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

namespace viewtest {
namespace {

LinkRecorder g_recorder;
std::mutex g_recorderMutex;
std::string g_logPath;

// The scratch folders handed out, removed at exit.
std::vector<std::unique_ptr<testsupport::ScratchFolder>> g_scratchFolders;

HRESULT RecordSend(const void* data, DWORD size, bool guaranteed, DWORD timeout)
{
    std::lock_guard<std::mutex> lock(g_recorderMutex);
    const auto* p = static_cast<const std::uint8_t*>(data);
    g_recorder.sent.push_back({std::vector<std::uint8_t>(p, p + size), guaranteed, timeout});
    return g_recorder.sendResult;
}
DWORD RecordRoundTrip() { return g_recorder.roundTrip; }
void RecordClose()
{
    std::lock_guard<std::mutex> lock(g_recorderMutex);
    ++g_recorder.closePosts;
}
void RecordBox(const char* text, const char* caption, UINT type)
{
    std::lock_guard<std::mutex> lock(g_recorderMutex);
    g_recorder.boxes.push_back({text, caption, type});
}
void RecordExit(int code)
{
    std::lock_guard<std::mutex> lock(g_recorderMutex);
    g_recorder.exits.push_back(code);
}

template <typename T>
void Put(std::vector<std::uint8_t>& image, std::size_t offset, T value)
{
    std::memcpy(image.data() + offset, &value, sizeof value);
}

}  // namespace

LinkRecorder& Recorder() { return g_recorder; }

void ResetViewState()
{
    for (VesselState& v : Vessels) {
        v.Model = 0;
        v.Registration = 0;
        v.Velocity = v.Position = v.SurfaceVelocity = v.TargetPosition = v.PreviousPosition = D3DXVECTOR3();
        v.DoublePosition[0] = v.DoublePosition[1] = v.DoublePosition[2] = 0.0;
        v.BlinkBits = 0;
        v.BlinkInterval = v.LastBlink = 0;
        v.WorldMatrix = v.ModelMatrix = D3DXMATRIX();
        v.Attitude = D3DXQUATERNION();
        v.Rates = D3DXVECTOR3();
        v.Present = v.Landed = 0;
        v.Scale = v.HitRadius = v.Distance = v.LastUpdate = v.GroundRadius = 0;
    }
    for (Projectile& p : Projectiles) {
        p.Position = p.Velocity = D3DXVECTOR3();
        p.LaunchTime = 0;
        p.Active = p.Exploded = p.FrameCounter = p.Owner = 0;
    }
    std::memset(Board.Lines, 0, sizeof Board.Lines);
    for (float& b : Board.Brightness) b = 0;
    for (UniverseObject& o : UniverseObjects) o = UniverseObject();

    OwnVesselIndex = VESSEL_NONE;
    InitialStateComplete = 0;
    LocalTimeAtSetup = 0;
    UniverseSecondsAtSetup = 0;
    UniverseHours = 0;
    StickPitch = StickRoll = StickYaw = 0;
    TargetIndex = -2;
    RvrSetting = 2.0f;
    AltitudeMSL = -1.0f;
    ThrustAugEnabled = 1;
    ApparentVelocity = RelativeVelocity = TerrainSlopeVector = D3DXVECTOR3();
    HomeObjectIndex = 0;
    ForceFeedbackPitch = ForceFeedbackRoll = 0;
    TouchdownLatched = 0;
    ThrustSetting = ImpactForce = GroundRadius = 0;
    DorMode = TvmMode = 0;
    DisplayedThrust = PitchTrim = AngleOfAttack = IndicatedAirspeed = ThrustAugAuthority = 0;
    YawFromThrust = PropulsionEnabled = ForceFeedbackAvailable = JoystickEnabled = 0;
    FirstFrameDone = 0;
    CloseRequested = 0;

    {
        std::lock_guard<std::mutex> lock(g_recorderMutex);
        g_recorder = LinkRecorder();
    }
    LinkHooks hooks;
    hooks.send = RecordSend;
    hooks.roundTripMs = RecordRoundTrip;
    hooks.postClose = RecordClose;
    hooks.messageBox = RecordBox;
    hooks.exitProcess = RecordExit;
    SetLinkHooks(hooks);
    CloseLogFile();
}

std::string ScratchFolder()
{
    g_scratchFolders.push_back(std::make_unique<testsupport::ScratchFolder>("viewtest"));
    return g_scratchFolders.back()->Path();
}

std::string ReadFile(const std::string& path) { return testsupport::ReadFile(path); }

void CaptureLog()
{
    g_logPath = ScratchFolder() + "/logfile.txt";
    OpenLogFile(g_logPath.c_str());
}

std::string LogText() { return ReadFile(g_logPath); }

std::vector<std::uint8_t> UniverseImage(const std::vector<UniverseRecord>& records)
{
    std::vector<std::uint8_t> image(999 + 1000 * 9, 0xEE);
    for (std::size_t i = 0; i < records.size() && i < 9; ++i) {
        const UniverseRecord& r = records[i];
        const std::size_t base = 999 + 1000 * i;
        Put(image, base + 0, r.kind);
        Put(image, base + 2, r.angleA);
        Put(image, base + 6, r.angleB);
        Put(image, base + 10, r.angleC);
        Put(image, base + 14, r.distance);
        Put(image, base + 18, r.rateB);
        Put(image, base + 22, r.rateA);
        Put(image, base + 26, r.scale);
        Put(image, base + 30, r.tilt);
        Put(image, base + 64, r.hitRadius);
        Put(image, base + 68, r.polygon);
    }
    return image;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Deliver(const StatusPacket& packet) { HandleReceivedData(&packet, sizeof packet); }

void DeliverEvent(const EventPacket& packet, std::size_t size) { HandleReceivedData(&packet, size); }

}  // namespace viewtest
