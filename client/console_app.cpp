#include "client/console_app.h"

#include "client/client_state.h"
#include "client/server_link.h"
#include "client/session_host.h"
#include "client/ship_systems.h"
#include "client/vessel_motion.h"
#include "client/wire.h"
#include "common/frame_clock.h"
#include "common/registry_values.h"
#include "platform/console/console.h"
#include "platform/sys/crt.h"
#include "platform/sys/timing.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr float kTwoPi = std::bit_cast<float>(0x40C90FDBu);
constexpr int CHAT_LINE_MAX = 80;

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

enum KeyAction : std::uint8_t { KEY_NOTHING, KEY_CHAT, KEY_STATISTICS, KEY_VERBOSE, KEY_RESEND, KEY_SWITCH };

// Codes 13 to 54.
constexpr KeyAction kKeyTable[42] = {
    KEY_CHAT,                                                              // 13 ENTER
    KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING,  // 14-20
    KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING,  // 21-27
    KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING,  // 28-34
    KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING,  // 35-41
    KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING, KEY_NOTHING,  // 42-48
    KEY_NOTHING,                                                           // 49 '1' (leaves the loop)
    KEY_STATISTICS,                                                        // 50 '2'
    KEY_VERBOSE,                                                           // 51 '3'
    KEY_RESEND,                                                            // 52 '4'
    KEY_NOTHING,                                                           // 53 '5'
    KEY_SWITCH,                                                            // 54 '6'
};
static_assert(sizeof kKeyTable == 42);

void ReadRegistration()
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Meridax Industries", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    DWORD value = 1;
    RegReadDword(key, "IVR", &value, 1);
    if (key != nullptr) RegCloseKey(key);
    ScopedSection time(UniverseClock.lock);
    UniverseClock.registration = static_cast<float>(value);
}

bool ReadPlanetRotation()
{
    const int fd = crt::Open("universe.dat", crt::O_RDONLY_ | crt::O_BINARY_);
    if (fd < 0) {
        std::printf("[Error!] Failed to load \"universe.dat\"!\n");
        return false;
    }
    float angle = 0.0f, rate = 0.0f;
    crt::Seek(fd, 3005, crt::SEEK_SET_);
    crt::Read(fd, &angle, sizeof angle);
    crt::Seek(fd, 3017, crt::SEEK_SET_);
    crt::Read(fd, &rate, sizeof rate);
    crt::Close(fd);
    // A damaged file's value that is not finite counts as 0, like one the file lacks.
    if (!std::isfinite(angle)) angle = 0.0f;
    if (!std::isfinite(rate)) rate = 0.0f;
    ScopedSection rotation(PlanetRotation.lock);
    PlanetRotation.angle = angle;
    PlanetRotation.rate = rate;
    return true;
}

void SendChatLine()
{
    std::printf("> ");
    std::fflush(stdout);
    // Windows-1252 text, as it travels (ReadLine converts what a UTF-8 terminal types).
    char line[CHAT_LINE_MAX + 1];
    const int length = console::ReadLine(line, CHAT_LINE_MAX);
    if (length == 0) {
        std::printf("[%06i] Message aborted...\n", ConsoleSeconds());
        return;
    }
    std::uint8_t own;
    {
        ScopedSection time(UniverseClock.lock);
        own = UniverseClock.ownVessel;
    }
    const EventPacket packet = MakeChatPacket(own, line);
    const HRESULT hr = SendToServer(&packet, EVENT_PACKET_SIZE, false, 1000);
    SendToPeer(0, &packet, EVENT_PACKET_SIZE, false, 1000);
    // A failed send to the server has printed its error line already.
    if (SUCCEEDED(hr)) std::printf("[%06i] Message sent successfully!\n", ConsoleSeconds());
}

void PrintConnectionRow(const DPN_CONNECTION_INFO& s)
{
    std::printf("%6i %6i %6i %6i %6i %6i %6i %6i %6i %6i\n", static_cast<int>(s.dwRoundTripLatencyMS),
                static_cast<int>(s.dwThroughputBPS), static_cast<int>(s.dwPeakThroughputBPS),
                static_cast<int>(s.dwPacketsSentGuaranteed), static_cast<int>(s.dwPacketsSentNonGuaranteed),
                static_cast<int>(s.dwPacketsRetried), static_cast<int>(s.dwPacketsDropped),
                static_cast<int>(s.dwPacketsReceivedGuaranteed), static_cast<int>(s.dwPacketsReceivedNonGuaranteed),
                static_cast<int>(s.dwMessagesReceived));
}

void PrintStatistics(DPN_CONNECTION_INFO& stats)
{
    {
        ScopedSection time(UniverseClock.lock);
        std::printf("\nUniverse time: %.0f:%f\n", static_cast<double>(UniverseClock.hours),
                    static_cast<double>(UniverseSecondsNow()));
    }
    std::printf("\nDPNID   PingMS CurBPS MaxBPS SntGPk SntPck PckTry PckDrp RcvGPk RcvPck RcvMsg\n");
    // A failed query leaves the record as the previous one did.
    if (DirectPlayClient != nullptr) DirectPlayClient->GetConnectionInfo(&stats, 0);
    std::printf("Server  ");
    PrintConnectionRow(stats);
    for (int i = 0; i < MAX_PEER_SLOTS; ++i) {
        PeerSlot& slot = PeerSlots[i];
        ScopedSection lock(slot.lock);
        if (!slot.occupied) continue;
        if (DirectPlayServer != nullptr) DirectPlayServer->GetConnectionInfo(slot.dpnid, &stats, 0);
        std::printf("%X", slot.dpnid);
        PrintConnectionRow(stats);
    }
    std::printf("\n# ! xposition  yposition  zposition    p, r, y, w   Altitude MSL/AGL\n");
    for (int i = 0; i < MAX_VESSELS; ++i) {
        ShipRecord& s = Ships[i];
        ScopedSection ship(s.lock);
        // In double: the length of a huge position would overflow a float.
        const double r = std::sqrt(static_cast<double>(s.position.x) * s.position.x +
                                   static_cast<double>(s.position.y) * s.position.y +
                                   static_cast<double>(s.position.z) * s.position.z);
        std::printf("%i %i %+06.3f %+06.3f %+06.3f %+1.3f %+1.3f %+1.3f %1.3f %4.3f/%4.3f\n", i, s.present,
                    static_cast<double>(s.position.x), static_cast<double>(s.position.y),
                    static_cast<double>(s.position.z), static_cast<double>(s.pitchRate),
                    static_cast<double>(s.rollRate), static_cast<double>(s.yawRate),
                    static_cast<double>(s.attitude.w), r - static_cast<double>(2939.6f),
                    r - static_cast<double>(s.groundRadius));
    }
    std::printf("\n");
}

void ToggleVerbose()
{
    if (VerboseTrace.load() == 1) {
        std::printf("[%06i] Verbose OFF\n", ConsoleSeconds());
        VerboseTrace.store(0);
    } else {
        std::printf("[%06i] Verbose ON!\n", ConsoleSeconds());
        VerboseTrace.store(1);
    }
}

void ResendVessels()
{
    std::uint8_t own;
    {
        ScopedSection time(UniverseClock.lock);
        own = UniverseClock.ownVessel;
    }
    for (int i = 0; i < MAX_VESSELS; ++i) {
        if (i == own) continue;
        StatusPacket velocity, position;
        {
            ShipRecord& s = Ships[i];
            ScopedSection ship(s.lock);
            const auto n = static_cast<std::uint8_t>(i);
            velocity = MakeStatusPacket(STATUS_VELOCITY, n, s.velocity.x, s.velocity.y, s.velocity.z, s.groundRadius);
            position = MakeStatusPacket(STATUS_POSITION, n, s.position.x, s.position.y, s.position.z,
                                        VesselUniverseTime(s));
        }
        SendToPeer(0, &velocity, sizeof velocity, true, 0);
        SendToPeer(0, &position, sizeof position, true, 0);
    }
}

void ReportOwnVessel()
{
    std::uint8_t own;
    {
        ScopedSection time(UniverseClock.lock);
        own = UniverseClock.ownVessel;
    }
    StatusPacket velocity, position;
    {
        ShipRecord& s = Ships[own];
        ScopedSection ship(s.lock);
        velocity = MakeStatusPacket(STATUS_VELOCITY, 0, s.velocity.x, s.velocity.y, s.velocity.z, s.groundRadius);
        position = MakeStatusPacket(STATUS_POSITION, 0, s.position.x, s.position.y, s.position.z,
                                    VesselUniverseTime(s));
    }
    SendToServer(&velocity, sizeof velocity, false, 1000);
    SendToServer(&position, sizeof position, false, 1000);
}

// What a motion step changes.
struct MotionState {
    std::uint8_t onGround;
    D3DXVECTOR3 position, velocity, surfaceVelocity;
    double doublePosition[3];
    D3DXQUATERNION attitude;
    D3DXMATRIX viewMatrix;
    float pitchRate, rollRate, yawRate;

    explicit MotionState(const ShipRecord& s)
        : onGround(s.onGround), position(s.position), velocity(s.velocity), surfaceVelocity(s.surfaceVelocity),
          doublePosition{s.doublePosition[0], s.doublePosition[1], s.doublePosition[2]}, attitude(s.attitude),
          viewMatrix(s.viewMatrix), pitchRate(s.pitchRate), rollRate(s.rollRate), yawRate(s.yawRate)
    {
    }
    void RestoreTo(ShipRecord& s) const
    {
        s.onGround = onGround;
        s.position = position;
        s.velocity = velocity;
        s.surfaceVelocity = surfaceVelocity;
        for (int k = 0; k < 3; ++k) s.doublePosition[k] = doublePosition[k];
        s.attitude = attitude;
        s.viewMatrix = viewMatrix;
        s.pitchRate = pitchRate;
        s.rollRate = rollRate;
        s.yawRate = yawRate;
    }
    bool Finite() const
    {
        bool ok = std::isfinite(pitchRate) && std::isfinite(rollRate) && std::isfinite(yawRate);
        for (const float* v : {&position.x, &velocity.x, &surfaceVelocity.x})
            ok = ok && std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
        for (double d : doublePosition) ok = ok && std::isfinite(d);
        ok = ok && std::isfinite(attitude.x) && std::isfinite(attitude.y) && std::isfinite(attitude.z) &&
             std::isfinite(attitude.w);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) ok = ok && std::isfinite(viewMatrix.m[r][c]);
        return ok;
    }
};

void MoveVessel(int i, float now)
{
    ShipRecord& s = Ships[i];
    ScopedSection ship(s.lock);
    const float dt = now - s.lastUpdate;
    s.lastUpdate = now;
    // A step that would leave the vessel not finite (a position or speed too large
    // for single precision) leaves it as it was.
    const MotionState before(s);
    ApplyGravityAndGround(static_cast<std::int16_t>(i), dt);
    IntegrateVesselPosition(static_cast<std::int16_t>(i), dt);
    D3DXQuaternionNormalize(&s.attitude, &s.attitude);
    D3DXQUATERNION delta;
    D3DXQuaternionRotationYawPitchRoll(&delta, s.yawRate * dt, s.pitchRate * dt, s.rollRate * dt);
    D3DXQuaternionMultiply(&s.attitude, &s.attitude, &delta);
    D3DXMATRIX rotation, translation;
    D3DXMatrixRotationQuaternion(&rotation, &s.attitude);
    D3DXMatrixInverse(&s.viewMatrix, nullptr, &rotation);
    D3DXMatrixTranslation(&translation, -s.position.x, -s.position.y, -s.position.z);
    D3DXMatrixMultiply(&s.viewMatrix, &s.viewMatrix, &translation);
    if (!MotionState(s).Finite()) before.RestoreTo(s);
}

// previous: application time at the connection (start-up step 11).
void ConsoleLoop(float previous)
{
    DPN_CONNECTION_INFO stats{};
    stats.dwSize = sizeof stats;
    float accumulator = 1.0f;
    for (;;) {
        Sleep(100);
        int key = 0;
        if (console::KeyWaiting()) {
            key = console::ReadKey();
            if (key < 0) key = 0;
            key = std::toupper(key);
        }
        if (key >= 13 && key <= 54) {
            switch (kKeyTable[key - 13]) {
            case KEY_CHAT: SendChatLine(); break;
            case KEY_STATISTICS: PrintStatistics(stats); break;
            case KEY_VERBOSE: ToggleVerbose(); break;
            case KEY_RESEND: ResendVessels(); break;
            case KEY_SWITCH: ShipSystems[10].switchOn = ShipSystems[10].switchOn == 0 ? 1 : 0; break;
            case KEY_NOTHING: break;
            }
        }
        const float now = FrameClock(CLOCK_SINCE_RESET);
        const float dt = now - previous;
        accumulator += dt;
        if (accumulator > 1.0f) {
            accumulator -= 1.0f;
            UpdateShipSystems();
            if (SessionOnline.load() != 0) ReportOwnVessel();
        }
        AdvanceUniverseClockAndPlanet(dt);
        for (int i = 0; i < MAX_VESSELS; ++i) MoveVessel(i, now);
        previous = now;
        if (key == '1' || key == 27) break;
    }
}

// Start-up steps up to hosting; false when one fails (its line is printed).
// t0: application time when the connection was made.
bool StartUp(float* t0)
{
    ReadRegistration();
    if (!ReadPlanetRotation()) return false;
    if (FAILED(LoadShipSystems())) {
        std::printf("[Error!] Failed to load \"systems.dat\"!\n");
        return false;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT hr = InitDirectPlay();
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on InitDirectPlay:  %X\n", Hex(hr));
        return false;
    }
    // HostListLock is constructed with the other globals.
    hr = CreateDeviceAddress();
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on CreatingDeviceAddress:  %X\n", Hex(hr));
        return false;
    }
    hr = EnumDirectPlayHosts();
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on EnumDirectPlayHosts:  %X\n", Hex(hr));
        return false;
    }
    hr = ConnectToSession();
    if (FAILED(hr)) {
        std::printf("[Error!] --- Failed on ConnectToSession:  %X\n", Hex(hr));
        std::printf("\n");
        std::printf("If you HAVE been able to connect before...\n");
        std::printf("- The host may be temporarily offline OR\n");
        std::printf("- A connection could not be established (Internet or provider trouble) OR\n");
        std::printf("- Previous session has not yet timed out (approximately one minute)\n");
        std::printf("\n");
        std::printf("If you have NOT been able to connect before...\n");
        std::printf("- You need to have DirectX 8.0 or higher installed OR\n");
        std::printf("- There is a firewall blocking your connection (office LAN) OR\n");
        std::printf("- Your computer is not configured properly for TCP/IP\n");
        return false;
    }
    std::printf("[%06i] Connection successful!\n", ConsoleSeconds());
    *t0 = FrameClock(CLOCK_SINCE_RESET);
    for (ShipRecord& s : Ships) {
        ScopedSection ship(s.lock);
        s.lastUpdate = *t0;
    }
    // Until the configuration is complete, or the server refused us or went away.
    while (SetupConfirmed.load() == 0) {
        if (ConfigurationRefused.load() != 0 || ServerSessionEnded.load() != 0) return false;
        Sleep(1);
    }
    std::printf("[%06i] Confirmation received!\n", ConsoleSeconds());
    hr = HostSession();
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on HostSession:  %X\n", Hex(hr));
        return false;
    }
    return true;
}

}  // namespace

void AdvanceUniverseClockAndPlanet(float dt)
{
    {
        ScopedSection time(UniverseClock.lock);
        if (UniverseSecondsNow() > 3600.0f) {
            UniverseClock.hours += 1.0f;
            UniverseClock.localReference += 3600.0f;
        }
    }
    ScopedSection rotation(PlanetRotation.lock);
    PlanetRotation.angle += dt * PlanetRotation.rate;
    if (PlanetRotation.angle >= kTwoPi) PlanetRotation.angle -= kTwoPi;
}

void RunConsoleClient()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    console::Open();
    SetX87Precision64();
    FrameClock(CLOCK_RESUME);
    float t0 = 0.0f;
    if (StartUp(&t0)) {
        ConsoleLoop(t0);
        const StatusPacket leaving = MakeStatusPacket(STATUS_SHUTDOWN, 0, 0.0f, 0.0f, 0.0f, 0.0f);
        SendToPeer(0, &leaving, sizeof leaving, true, 0);
        SessionOnline.store(0);
    }
    std::printf("\n");
    CloseLogFile();
    if (DirectPlayClient != nullptr) DirectPlayClient->Close(0);
    CoUninitialize();
    std::printf("\nPress any key to exit...\n");
    while (!console::KeyWaiting() && !console::InputEnded()) Sleep(50);
    // The host object is closed (not released) so that what was sent to the view
    // programs leaves before the process ends and no handler outlives the records.
    if (DirectPlayServer != nullptr) DirectPlayServer->Close(0);
    console::Restore();
    std::fflush(stdout);
    std::exit(0);
}
