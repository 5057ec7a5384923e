#include "tools/universe-standin/standin.h"

#include "platform/math/vector_values.h"
#include "platform/sys/text.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

constexpr double kPlanetRadius = 2939.6;                          // km
constexpr double kSurfaceGravity = 0.01127;                       // km/s^2
constexpr double kGM = kSurfaceGravity * kPlanetRadius * kPlanetRadius;  // km^3/s^2
constexpr std::size_t kMaxLogLines = 10000;

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

const char* Mode(bool guaranteed) { return guaranteed ? "guaranteed" : "non-guaranteed"; }

constexpr float kTwoPi = 6.2831855f;
constexpr float kStartRadius = 2939.604f;       // the view program's default ground radius
constexpr float kStartSunElevation = 0.61086524f;  // 35 degrees

// An angle that turns at rate from the universe clock, whole hours first, as the
// view program turns its universe objects; the file's angle when it does not turn.
float ClockAngle(float angle, float rate, float hours, float seconds)
{
    if (!(rate > 0.0f)) return angle;
    const float period = kTwoPi / rate;
    float x = hours * 3600.0f / period;
    x -= std::floor(x);
    x = seconds / period + x;
    x -= std::floor(x);
    return x * kTwoPi;
}

}  // namespace

bool UniverseStandin::ReadSky(const std::string& path, Sky* sky)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    // Nine records of 1000 bytes from byte 999; what a short file lacks reads as zero.
    std::vector<unsigned char> bytes(999 + 9 * 1000, 0);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    (void)got;
    struct Record {
        std::int16_t kind;
        float angleA, angleB, distance, rateB, rateA, tilt;
    } records[9];
    auto field = [&](int i, int offset, void* out, std::size_t size) {
        std::memcpy(out, bytes.data() + 999 + 1000 * i + offset, size);
    };
    for (int i = 0; i < 9; ++i) {
        Record& r = records[i];
        field(i, 0, &r.kind, 2);
        field(i, 2, &r.angleA, 4);
        field(i, 6, &r.angleB, 4);
        field(i, 14, &r.distance, 4);
        field(i, 18, &r.rateB, 4);
        field(i, 22, &r.rateA, 4);
        field(i, 30, &r.tilt, 4);
    }
    // The view program's table order: kind descending, file order kept.
    std::stable_sort(records, records + 9, [](const Record& a, const Record& b) { return a.kind > b.kind; });
    int home = 0, sun = -1;
    for (int i = 0; i < 9; ++i) {
        if (records[i].kind == -1) home = i;
        if (records[i].kind == -7) sun = i;
    }
    Sky out;
    out.homeAngleB = records[home].angleB;
    out.homeRateB = records[home].rateB;
    out.homeTilt = records[home].tilt;
    if (sun >= 0) {
        out.sunAngleA = records[sun].angleA;
        out.sunRateA = records[sun].rateA;
        out.sunDistance = records[sun].distance;
    }
    *sky = out;
    return true;
}

D3DXVECTOR3 UniverseStandin::SunDirection(const Sky& sky, float hours, float seconds)
{
    // The sun's placement row: one distance along Y, turned by its fixed and its
    // clock angle, the planet's tilt and against the planet's spin; the sun lies
    // opposite that row.
    D3DXMATRIX fixed, angle, tilt, spin, m;
    D3DXMatrixRotationZ(&fixed, sky.sunAngleA - sky.homeAngleB);
    D3DXMatrixRotationZ(&angle, ClockAngle(sky.sunAngleA, sky.sunRateA, hours, seconds));
    D3DXMatrixRotationX(&tilt, sky.homeTilt);
    D3DXMatrixRotationZ(&spin, -ClockAngle(sky.homeAngleB, sky.homeRateB, hours, seconds));
    m = fixed * angle * tilt * spin;
    const D3DXVECTOR3 row(0.0f, sky.sunDistance, 0.0f);
    D3DXVECTOR3 placed;
    D3DXVec3TransformNormal(&placed, &row, &m);
    return Unit(-placed);
}

UniverseStandin::StartState UniverseStandin::StartStateFor(const Sky& sky, float hours, float seconds)
{
    const D3DXVECTOR3 s = SunDirection(sky, hours, seconds);
    const D3DXVECTOR3 spinAxis(0.0f, 0.0f, -1.0f);
    // From under the sun along the ground toward the east until it stands 35 degrees up.
    D3DXVECTOR3 east = Cross(spinAxis, s);
    east = D3DXVec3Length(&east) > 1e-3f ? Unit(east) : D3DXVECTOR3(1.0f, 0.0f, 0.0f);
    const float tilt = 1.5707964f - kStartSunElevation;
    const D3DXVECTOR3 up = Unit(s * std::cos(tilt) + east * std::sin(tilt));
    const D3DXVECTOR3 toSun = Unit(s - up * D3DXVec3Dot(&s, &up));

    StartState st;
    st.groundRadius = kStartRadius;
    st.position = up * kStartRadius;
    // Standing on the turning ground.
    const D3DXVECTOR3 e = Unit(Cross(spinAxis, up));
    const float latitude = std::acos(std::clamp(D3DXVec3Dot(&up, &spinAxis), -1.0f, 1.0f)) - 1.5707964f;
    st.velocity = e * (std::cos(latitude) * (-sky.homeRateB * kStartRadius));
    // The drawn scene is the universe mirrored through the vessel: the ship's Y axis
    // there points away from the ground (-up) and its Z axis, the view, toward the
    // sun's side of the horizon (-toSun). The attitude turns the scene into the ship.
    const D3DXVECTOR3 x = Cross(up, toSun);
    const D3DXMATRIX world(x.x, x.y, x.z, 0.0f, -up.x, -up.y, -up.z, 0.0f, -toSun.x, -toSun.y, -toSun.z, 0.0f,
                           0.0f, 0.0f, 0.0f, 1.0f);
    D3DXMATRIX rotation;
    D3DXMatrixTranspose(&rotation, &world);
    D3DXQuaternionRotationMatrix(&st.attitude, &rotation);
    D3DXQuaternionNormalize(&st.attitude, &st.attitude);
    return st;
}

std::string UniverseStandin::ChatTextFromCommand(const std::string& typed)
{
    std::u32string points;
    if (!DecodeUtf8(typed, &points)) return typed;
    std::string out;
    for (const char32_t cp : points) {
        if (IsControlCharacter(cp)) continue;
        const int b = cp < 0x10000 ? UnicodeToWindows1252(static_cast<char16_t>(cp)) : -1;
        out += b < 0 ? '?' : static_cast<char>(b);
    }
    return out;
}

std::string UniverseStandin::ChatTextForLog(const char* text)
{
    std::string out;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0; ++c) {
        const char16_t cp = Windows1252ToUnicode(*c);
        AppendUtf8(out, IsControlCharacter(cp) ? U'?' : cp);
    }
    return out;
}

UniverseStandin::UniverseStandin() : UniverseStandin(Options{}) {}

UniverseStandin::UniverseStandin(const Options& options)
    : options_(options), newestBuild_(options.newestBuild), nextRegistration_(options.firstRegistration)
{
    if (options_.drones < 0) options_.drones = 0;
    if (options_.drones > 3) options_.drones = 3;
}

UniverseStandin::~UniverseStandin() { Stop(); }

HRESULT UniverseStandin::Start()
{
    if (server_ != nullptr) return DPNERR_ALREADYINITIALIZED;
    startClock_ = Now();
    if (!ReadSky(options_.universeFile, &sky_)) {
        Log("%s not read: players start as if the sun stood along -Y",
            options_.universeFile.c_str());
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const double t = UniverseSecondsTotal();
        for (int d = 0; d < options_.drones; ++d) {
            Vessel& v = vessels_[VESSEL_COUNT - 1 - d];
            v = Vessel{};
            v.kind = Vessel::Drone;
            v.registration = static_cast<float>(9001 + d);
            v.announced = true;
            v.orbitRadius = kPlanetRadius + 150.0 + 60.0 * d;
            v.phase = 2.1 * d;
            v.inclination = 0.6 * d;
            v.node = 2.0 * d;
            MoveDrone(v, t);
        }
    }
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Server, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Server,
                                  reinterpret_cast<void**>(&server_));
    if (FAILED(hr)) return hr;
    hr = server_->Initialize(this, &UniverseStandin::Handler, 0);
    if (SUCCEEDED(hr)) {
        DPN_PLAYER_INFO info{};
        info.dwSize = sizeof info;
        info.dwInfoFlags = DPNINFO_NAME;
        info.pwszName = const_cast<WCHAR*>(u"Universe Stand-in");
        hr = server_->SetServerInfo(&info, nullptr, nullptr, DPNSETSERVERINFO_SYNC);
    }
    if (SUCCEEDED(hr)) {
        DPN_APPLICATION_DESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DPNSESSION_CLIENT_SERVER;
        desc.guidApplication = ServerApplicationGuid;
        desc.pwszSessionName = const_cast<WCHAR*>(u"Meridax Universe");
        IDirectPlay8Address* device = IDirectPlay8Address::Create();
        device->SetSP(&CLSID_DP8SP_TCPIP);
        if (options_.port != 0) {
            const DWORD port = options_.port;
            device->AddComponent(DPNA_KEY_PORT, &port, sizeof port, DPNA_DATATYPE_DWORD);
        }
        hr = server_->Host(&desc, &device, 1, nullptr, nullptr, this, 0);
        device->Release();
    }
    if (SUCCEEDED(hr)) {
        IDirectPlay8Address* local[1] = {nullptr};
        DWORD count = 1;
        if (SUCCEEDED(server_->GetLocalHostAddresses(local, &count, 0))) {
            DWORD port = 0, size = sizeof port, type = 0;
            local[0]->GetComponentByName(DPNA_KEY_PORT, &port, &size, &type);
            port_ = static_cast<std::uint16_t>(port);
            local[0]->Release();
        }
    }
    if (FAILED(hr)) {
        server_->Close(0);
        server_->Release();
        server_ = nullptr;
        return hr;
    }
    Log("hosting the universe session on UDP port %u with %d drone(s)", port_, options_.drones);
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = false;
    }
    drones_ = std::thread([this] { DroneLoop(); });
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = true;
    }
    return S_OK;
}

void UniverseStandin::Stop()
{
    {
        // A command on another thread finishes first; later ones find it stopped.
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    if (drones_.joinable()) drones_.join();
    if (server_ != nullptr) {
        server_->Close(0);
        server_->Release();
        server_ = nullptr;
        Log("stopped");
    }
}

double UniverseStandin::UniverseSecondsTotal() const
{
    return options_.startHours * 3600.0 + options_.startSeconds + (Now() - startClock_);
}

void UniverseStandin::UniverseTime(float* hours, float* seconds) const
{
    const double total = UniverseSecondsTotal();
    const double h = std::floor(total / 3600.0);
    if (hours != nullptr) *hours = static_cast<float>(h);
    if (seconds != nullptr) *seconds = static_cast<float>(total - h * 3600.0);
}

void UniverseStandin::Log(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    char line[600];
    std::snprintf(line, sizeof line, "[%10.3f] %s", Now() - startClock_, text);
    std::lock_guard<std::mutex> lock(logMutex_);
    if (options_.log != nullptr) {
        std::fprintf(options_.log, "%s\n", line);
        std::fflush(options_.log);
    }
    if (options_.keepLog && logLines_.size() < kMaxLogLines) logLines_.emplace_back(line);
}

std::vector<std::string> UniverseStandin::LogLines() const
{
    std::lock_guard<std::mutex> lock(const_cast<std::mutex&>(logMutex_));
    return logLines_;
}

int UniverseStandin::PlayerCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const Vessel& v : vessels_) n += v.kind == Vessel::Player ? 1 : 0;
    return n;
}

int UniverseStandin::VesselOf(DPNID player) const
{
    for (int i = 0; i < VESSEL_COUNT; ++i) {
        if (vessels_[i].kind == Vessel::Player && vessels_[i].player == player) return i;
    }
    return -1;
}

// ---------------------------------------------------------------- sending

void UniverseStandin::SendStatus(DPNID to, const StatusPacket& p, bool guaranteed)
{
    DPN_BUFFER_DESC b{sizeof p, reinterpret_cast<BYTE*>(const_cast<StatusPacket*>(&p))};
    DPNHANDLE h;
    server_->SendTo(to, &b, 1, guaranteed ? 0 : 1000, nullptr, &h,
                    (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK);
}

void UniverseStandin::SendEvent(DPNID to, const EventPacket& e, bool guaranteed)
{
    DPN_BUFFER_DESC b{sizeof e, reinterpret_cast<BYTE*>(const_cast<EventPacket*>(&e))};
    DPNHANDLE h;
    server_->SendTo(to, &b, 1, guaranteed ? 0 : 1000, nullptr, &h,
                    (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK);
}

// To every configured player except the one holding `exceptVessel` (-1: none).
void UniverseStandin::SendToPlayers(const void* data, DWORD size, bool guaranteed, int exceptVessel)
{
    for (int i = 0; i < VESSEL_COUNT; ++i) {
        const Vessel& v = vessels_[i];
        if (v.kind != Vessel::Player || i == exceptVessel) continue;
        DPN_BUFFER_DESC b{size, static_cast<BYTE*>(const_cast<void*>(data))};
        DPNHANDLE h;
        server_->SendTo(v.player, &b, 1, guaranteed ? 0 : 1000, nullptr, &h,
                        (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK);
    }
}

// The five messages that describe vessel i to a newcomer.
void UniverseStandin::SendVesselState(DPNID to, int i)
{
    const Vessel& v = vessels_[i];
    const auto n = static_cast<std::uint8_t>(i);
    SendStatus(to, MakeStatusPacket(STATUS_PLAYER_ONLINE, n, 0, 0, 0, v.registration), true);
    SendStatus(to, MakeStatusPacket(STATUS_VELOCITY, n, v.velocity[0], v.velocity[1], v.velocity[2], v.groundRadius),
               true);
    SendStatus(to, MakeStatusPacket(STATUS_POSITION, n, v.position[0], v.position[1], v.position[2], v.sampleSeconds),
               true);
    SendStatus(to, MakeStatusPacket(STATUS_ATTITUDE, n, v.attitude[0], v.attitude[1], v.attitude[2], v.attitude[3]),
               true);
    SendStatus(to, MakeStatusPacket(STATUS_RATES, n, v.rates[0], v.rates[1], v.rates[2], v.sampleSeconds), true);
}

// ---------------------------------------------------------------- handler

HRESULT UniverseStandin::Handler(PVOID context, DWORD id, PVOID message)
{
    return static_cast<UniverseStandin*>(context)->Handle(id, message);
}

HRESULT UniverseStandin::Handle(DWORD id, PVOID message)
{
    switch (id) {
    case DPN_MSGID_CREATE_PLAYER: {
        auto* m = static_cast<DPNMSG_CREATE_PLAYER*>(message);
        // The host's own player carries the context given to Host.
        if (m->pvPlayerContext == this) return S_OK;
        OnCreate(m->dpnidPlayer);
        break;
    }
    case DPN_MSGID_DESTROY_PLAYER: {
        auto* m = static_cast<DPNMSG_DESTROY_PLAYER*>(message);
        if (m->pvPlayerContext != this) OnDestroy(m->dpnidPlayer);
        break;
    }
    case DPN_MSGID_RECEIVE: {
        auto* m = static_cast<DPNMSG_RECEIVE*>(message);
        OnReceive(m->dpnidSender, m->pReceiveData, m->dwReceiveDataSize, (m->dwReceiveFlags & DPNRECEIVE_GUARANTEED) != 0);
        break;
    }
    default:
        break;
    }
    return S_OK;
}

void UniverseStandin::OnCreate(DPNID player)
{
    std::lock_guard<std::mutex> lock(mutex_);
    float hours, seconds;
    UniverseTime(&hours, &seconds);
    int slot = -1;
    if (!refuseNext_) {
        for (int i = 0; i < VESSEL_COUNT; ++i) {
            if (vessels_[i].kind == Vessel::Empty) {
                slot = i;
                break;
            }
        }
    }
    if (slot < 0) {
        Log("player %08X refused%s", player, refuseNext_ ? " (as asked)" : ": no free vessel");
        refuseNext_ = false;
        SendStatus(player, MakeStatusPacket(STATUS_CONFIGURATION, VESSEL_NONE, 0, 0, 0, 0), true);
        return;
    }
    Vessel& v = vessels_[slot];
    v = Vessel{};
    v.kind = Vessel::Player;
    v.player = player;
    v.registration = static_cast<float>(nextRegistration_++);
    const StartState start = StartStateFor(sky_, hours, seconds);
    std::memcpy(v.position, &start.position, sizeof v.position);
    std::memcpy(v.velocity, &start.velocity, sizeof v.velocity);
    std::memcpy(v.attitude, &start.attitude, sizeof v.attitude);
    v.groundRadius = start.groundRadius;
    v.sampleSeconds = seconds;
    const auto n = static_cast<std::uint8_t>(slot);
    Log("player %08X joined as vessel %d, registration offered 52%.0f", player, slot, v.registration);
    Log("vessel %d starts landed at %.3f %.3f %.3f, facing the sun 35 degrees up", slot, v.position[0],
        v.position[1], v.position[2]);
    SendStatus(player, MakeStatusPacket(STATUS_CONFIGURATION, n, seconds, newestBuild_, hours, v.registration), true);
    SendStatus(player, MakeStatusPacket(STATUS_VELOCITY, n, v.velocity[0], v.velocity[1], v.velocity[2], v.groundRadius),
               true);
    SendStatus(player, MakeStatusPacket(STATUS_POSITION, n, v.position[0], v.position[1], v.position[2], seconds), true);
    SendStatus(player, MakeStatusPacket(STATUS_ATTITUDE, n, v.attitude[0], v.attitude[1], v.attitude[2], v.attitude[3]),
               true);
    for (int i = 0; i < VESSEL_COUNT; ++i) {
        if (i != slot && vessels_[i].kind != Vessel::Empty && vessels_[i].announced) SendVesselState(player, i);
    }
    SendStatus(player, MakeStatusPacket(STATUS_SETUP_COMPLETE, 0, 0, 0, 0, 0), true);
}

void UniverseStandin::OnDestroy(DPNID player)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const int i = VesselOf(player);
    if (i < 0) {
        Log("player %08X left (held no vessel)", player);
        return;
    }
    const bool announced = vessels_[i].announced;
    vessels_[i] = Vessel{};
    Log("player %08X left, vessel %d free", player, i);
    if (announced) {
        const StatusPacket p = MakeStatusPacket(STATUS_PLAYER_OFFLINE, static_cast<std::uint8_t>(i), 0, 0, 0, 0);
        SendToPlayers(&p, sizeof p, true, i);
    }
}

void UniverseStandin::OnReceive(DPNID player, const BYTE* data, DWORD size, bool guaranteed)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const int vessel = VesselOf(player);
    switch (ClassifyPacket(size)) {
    case WIRE_STATUS: {
        StatusPacket p;
        ReadStatusPacket(data, size, &p);
        Log("recv %-14s player %08X vessel %2d: StatusPacket type %u byte1 %u X %.3f Y %.3f Z %.3f W %.3f",
            Mode(guaranteed), player, vessel, p.Type, p.Vessel, p.X, p.Y, p.Z, p.W);
        if (vessel >= 0) OnStatus(vessel, p, guaranteed);
        break;
    }
    case WIRE_EVENT: {
        EventPacket e;
        ReadEventPacket(data, size, &e);
        if (e.Kind == EVENT_CHAT) {
            char text[EVENT_PAYLOAD_SIZE + 1];
            ReadChatText(e, text);
            Log("recv %-14s player %08X vessel %2d: EventPacket (%u bytes) chat \"%s\"", Mode(guaranteed), player,
                vessel, size, ChatTextForLog(text).c_str());
        } else if (e.Kind == EVENT_PROJECTILE) {
            const ProjectileRecord r = ReadProjectile(e);
            Log("recv %-14s player %08X vessel %2d: EventPacket (%u bytes) projectile at %.3f %.3f %.3f launched %.3f",
                Mode(guaranteed), player, vessel, size, r.Position[0], r.Position[1], r.Position[2], r.LaunchTime);
        } else {
            Log("recv %-14s player %08X vessel %2d: EventPacket (%u bytes) kind %u ignored", Mode(guaranteed), player,
                vessel, size, e.Kind);
        }
        if (vessel >= 0 && size == EVENT_PACKET_SIZE) OnEvent(vessel, e, guaranteed);
        break;
    }
    default:
        Log("recv %-14s player %08X vessel %2d: %u bytes ignored", Mode(guaranteed), player, vessel, size);
        break;
    }
}

void UniverseStandin::OnStatus(int vessel, const StatusPacket& in, bool guaranteed)
{
    Vessel& v = vessels_[vessel];
    StatusPacket out = in;
    out.Vessel = static_cast<std::uint8_t>(vessel);
    switch (in.Type) {
    case STATUS_CONFIGURATION:
        if (in.Y != 0.0f) {  // the answer to the configuration (build number in Y)
            v.registration = in.W;
            if (!v.announced) {
                v.announced = true;
                Log("vessel %d confirmed: build %.0f, registration 52%.0f", vessel, in.Y, in.W);
                const StatusPacket p = MakeStatusPacket(STATUS_PLAYER_ONLINE, out.Vessel, 0, 0, 0, in.W);
                SendToPlayers(&p, sizeof p, true, vessel);
            }
        }
        break;
    case STATUS_POSITION:
        std::memcpy(v.position, &in.X, sizeof v.position);
        v.sampleSeconds = in.W;
        SendToPlayers(&out, sizeof out, guaranteed, vessel);
        break;
    case STATUS_VELOCITY:
        std::memcpy(v.velocity, &in.X, sizeof v.velocity);
        v.groundRadius = in.W;
        SendToPlayers(&out, sizeof out, guaranteed, vessel);
        break;
    case STATUS_ATTITUDE:
        std::memcpy(v.attitude, &in.X, sizeof v.attitude);
        SendToPlayers(&out, sizeof out, guaranteed, vessel);
        break;
    case STATUS_RATES:
        std::memcpy(v.rates, &in.X, sizeof v.rates);
        SendToPlayers(&out, sizeof out, guaranteed, vessel);
        break;
    default:
        break;  // registrations and leave notices of view programs: logged only
    }
}

void UniverseStandin::OnEvent(int vessel, const EventPacket& in, bool guaranteed)
{
    EventPacket out = in;
    out.Vessel = static_cast<std::uint8_t>(vessel);
    if (in.Kind == EVENT_CHAT) {
        SendToPlayers(&out, sizeof out, guaranteed, vessel);
    } else if (in.Kind == EVENT_PROJECTILE) {
        SendToPlayers(&out, sizeof out, true, -1);  // the shooter sees its shot come back
    }
}

// ---------------------------------------------------------------- drones

void UniverseStandin::MoveDrone(Vessel& v, double total)
{
    const double r = v.orbitRadius;
    const double w = std::sqrt(kGM / (r * r * r));
    const double theta = v.phase + w * total;
    const double c = std::cos(theta), s = std::sin(theta);
    const double ci = std::cos(v.inclination), si = std::sin(v.inclination);
    const double cn = std::cos(v.node), sn = std::sin(v.node);
    auto place = [&](double x, double y, float* out) {
        const double y1 = y * ci, z1 = y * si;
        out[0] = static_cast<float>(x * cn - y1 * sn);
        out[1] = static_cast<float>(x * sn + y1 * cn);
        out[2] = static_cast<float>(z1);
    };
    place(r * c, r * s, v.position);
    place(-r * w * s, r * w * c, v.velocity);
    v.groundRadius = static_cast<float>(kPlanetRadius);
    v.sampleSeconds = static_cast<float>(std::fmod(total, 3600.0));
}

void UniverseStandin::DroneLoop()
{
    std::unique_lock<std::mutex> stop(stopMutex_);
    while (!stopCv_.wait_for(stop, std::chrono::seconds(1), [this] { return stopping_; })) {
        std::lock_guard<std::mutex> lock(mutex_);
        const double total = UniverseSecondsTotal();
        for (int i = 0; i < VESSEL_COUNT; ++i) {
            Vessel& v = vessels_[i];
            if (v.kind != Vessel::Drone) continue;
            MoveDrone(v, total);
            const auto n = static_cast<std::uint8_t>(i);
            const StatusPacket vel = MakeStatusPacket(STATUS_VELOCITY, n, v.velocity[0], v.velocity[1], v.velocity[2],
                                                      v.groundRadius);
            const StatusPacket pos = MakeStatusPacket(STATUS_POSITION, n, v.position[0], v.position[1], v.position[2],
                                                      v.sampleSeconds);
            const StatusPacket att = MakeStatusPacket(STATUS_ATTITUDE, n, v.attitude[0], v.attitude[1], v.attitude[2],
                                                      v.attitude[3]);
            SendToPlayers(&vel, sizeof vel, false, -1);
            SendToPlayers(&pos, sizeof pos, false, -1);
            SendToPlayers(&att, sizeof att, false, -1);
        }
    }
}

// ---------------------------------------------------------------- commands

bool UniverseStandin::Command(const std::string& line)
{
    std::istringstream in(line);
    std::string word;
    if (!(in >> word)) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) {
        Log("not running");
        return false;
    }
    if (word == "chat") {
        std::string text;
        std::getline(in >> std::ws, text);
        const int from = options_.drones > 0 ? VESSEL_COUNT - 1 : 0;
        const EventPacket e = MakeChatPacket(static_cast<std::uint8_t>(from), ChatTextFromCommand(text).c_str());
        SendToPlayers(&e, sizeof e, true, -1);
        char sent[EVENT_PAYLOAD_SIZE + 1];
        ReadChatText(e, sent);
        Log("chat from vessel %d sent: \"%s\"", from, ChatTextForLog(sent).c_str());
        return true;
    }
    if (word == "shutdown") {
        const StatusPacket p = MakeStatusPacket(STATUS_SHUTDOWN, 0, 0, 0, 0, 0);
        SendToPlayers(&p, sizeof p, true, -1);
        Log("shut-down announced");
        return true;
    }
    if (word == "drop") {
        int vessel = -1;
        if (!(in >> vessel) || vessel < 0 || vessel >= VESSEL_COUNT || vessels_[vessel].kind != Vessel::Player) {
            Log("drop: no player holds that vessel");
            return false;
        }
        const HRESULT hr = server_->DestroyClient(vessels_[vessel].player, nullptr, 0, 0);
        Log("dropping vessel %d: %08X", vessel, static_cast<unsigned>(hr));
        return SUCCEEDED(hr);
    }
    if (word == "refuse") {
        refuseNext_ = true;
        Log("the next player will be refused");
        return true;
    }
    if (word == "newer") {
        float build = 0;
        if (!(in >> build) || build <= 0) {
            Log("newer: give a build number");
            return false;
        }
        newestBuild_ = build;
        // Players online hear it at once through a fresh configuration message.
        float hours, seconds;
        UniverseTime(&hours, &seconds);
        for (int i = 0; i < VESSEL_COUNT; ++i) {
            const Vessel& v = vessels_[i];
            if (v.kind != Vessel::Player) continue;
            SendStatus(v.player,
                       MakeStatusPacket(STATUS_CONFIGURATION, static_cast<std::uint8_t>(i), seconds, build, hours,
                                        v.registration),
                       true);
        }
        Log("newest console-client build is now %.0f", build);
        return true;
    }
    if (word == "list") {
        for (int i = 0; i < VESSEL_COUNT; ++i) {
            const Vessel& v = vessels_[i];
            if (v.kind == Vessel::Empty) continue;
            Log("vessel %d: %s registration 52%.0f at %.1f %.1f %.1f", i, v.kind == Vessel::Drone ? "drone " : "player",
                v.registration, v.position[0], v.position[1], v.position[2]);
        }
        return true;
    }
    if (word == "help") {
        Log("commands: chat <text> | shutdown | drop <vessel> | refuse | newer <build> | list | quit");
        return true;
    }
    Log("unknown command: %s", word.c_str());
    return false;
}
