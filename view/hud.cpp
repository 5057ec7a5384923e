#include "view/hud.h"

#include "platform/math/vector_values.h"
#include "view/cockpit_app.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const D3DXVECTOR3 kPole(0.0f, 0.0f, -1.0f);
const D3DXVECTOR3 kAxisX(-1.0f, 0.0f, 0.0f);
const D3DXVECTOR3 kAxisY(0.0f, -1.0f, 0.0f);

// acos of a cosine that rounding may carry just past -1..1; NaN stays NaN.
float AcosClamped(float c)
{
    if (c > 1.0f) c = 1.0f;
    if (c < -1.0f) c = -1.0f;
    return std::acos(c);
}

float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return D3DXVec3Dot(&a, &b); }
float Length(const D3DXVECTOR3& v) { return D3DXVec3Length(&v); }

// Latitude and longitude (degrees) of the direction n from the planet centre.
void SphereAngles(const D3DXVECTOR3& n, float& latitude, float& longitude)
{
    D3DXVECTOR3 east = Unit(Cross(kPole, n));
    latitude = AcosClamped(Dot(n, kPole)) * HUD_DEGREES - 90.0f;
    longitude = AcosClamped(Dot(kAxisX, east)) * HUD_DEGREES;
    if (Dot(kAxisY, east) < 0.0f) longitude = -longitude;
}

HudAngle SplitAngle(float value, char letter)
{
    HudAngle a;
    a.Letter = letter;
    value = std::fabs(value);
    a.Degrees = std::floor(value);
    float m = (value - a.Degrees) * 60.0f;
    a.Seconds = (m - std::floor(m)) * 60.0f;
    a.Minutes = std::floor(m);
    return a;
}

class LineWriter {
public:
    explicit LineWriter(HudLineList& out) : out_(out) { out_.Count = 0; }

    // Formats into the next line; a text longer than the buffer is cut.
    __attribute__((format(printf, 5, 6))) void Add(float x, float y, std::uint32_t colour, const char* format, ...)
    {
        HudLine* line = Next(x, y, colour);
        if (line == nullptr) return;
        va_list args;
        va_start(args, format);
        std::vsnprintf(line->Text, sizeof line->Text, format, args);
        va_end(args);
    }

    // Copies text as it reads, at most limit bytes.
    void AddText(float x, float y, std::uint32_t colour, const char* text, std::size_t limit)
    {
        HudLine* line = Next(x, y, colour);
        if (line == nullptr) return;
        std::size_t n = text ? strnlen(text, limit) : 0;
        if (n > sizeof line->Text - 1) n = sizeof line->Text - 1;
        std::memcpy(line->Text, text, n);
        line->Text[n] = '\0';
    }

private:
    HudLine* Next(float x, float y, std::uint32_t colour)
    {
        if (out_.Count >= HUD_LINE_CAPACITY) return nullptr;
        HudLine& line = out_.Lines[out_.Count++];
        line.X = x;
        line.Y = y;
        line.Colour = colour;
        line.Text[0] = '\0';
        return &line;
    }

    HudLineList& out_;
};

const char* ImpactVerdict(float force)
{
    if (force > 48.0f) return "DEATH WAS INSTANTANEOUS";
    if (force > 30.0f) return "FATAL INJURIES RECEIVED";
    if (force > 20.0f) return "possible fractures";
    if (force > 10.0f) return "bruised and dizzy";
    return "survivable";
}

// Object 0, 1 or 2 for target -1, -2 and anything else that is not a vessel.
int TargetObject(int target) { return target == -1 ? 0 : target == -2 ? 1 : 2; }

} // namespace

std::uint32_t HudAlphaColour(float alpha, std::uint32_t rgb)
{
    std::uint32_t a = static_cast<std::uint32_t>(static_cast<int>(alpha)) & 0xFFu;
    return (a << 24) | (rgb & 0x00FFFFFFu);
}

HudLatLong LatLong(const D3DXVECTOR3& position)
{
    HudLatLong r;
    SphereAngles(Unit(-position), r.Latitude, r.Longitude);
    r.Lat = SplitAngle(r.Latitude, r.Latitude < 0.0f ? 'N' : 'S');
    r.Lon = SplitAngle(r.Longitude, r.Longitude < 0.0f ? 'W' : 'E');
    return r;
}

float Heading(const D3DXVECTOR3& position, const D3DXVECTOR3& forward, float lat, float lon)
{
    D3DXVECTOR3 f = Unit(-position + Unit(forward));
    float lat2 = 0.0f, lon2 = 0.0f;
    SphereAngles(f, lat2, lon2);
    float heading = std::fabs(lon2 - lon) / (std::fabs(lat2 - lat) + std::fabs(lon2 - lon)) * 90.0f;
    if (lat2 > lat && lon2 > lon) heading = 180.0f - heading;
    else if (lat2 > lat) heading = heading + 180.0f;
    else if (lon2 <= lon) heading = 360.0f - heading;
    return heading;
}

HudAttitude Attitude(const D3DXMATRIX& homeWorld, const D3DXMATRIX& ownWorld, const D3DXVECTOR3& slope)
{
    D3DXMATRIX inverse, m;
    D3DXMatrixInverse(&inverse, nullptr, &ownWorld);
    D3DXMatrixMultiply(&m, &homeWorld, &inverse);
    D3DXVECTOR3 q;
    D3DXVec3TransformCoord(&q, &slope, &m);
    HudAttitude a;
    if (std::fabs(q.y) > 1.1920929e-07f) {
        a.Pitch = std::atan(-q.z / q.y);
        a.Roll = std::atan(q.x / q.y);
    }
    return a;
}

HudOrbit OrbitalElements(const D3DXVECTOR3& r, const D3DXVECTOR3& v)
{
    HudOrbit o;
    D3DXVECTOR3 h = Cross(r, v);
    float hLength = Length(h);
    float rLength = Length(r);
    float rv = Dot(r, v);
    float pOrbit = std::pow(hLength, 2.0f) / HUD_MU;
    D3DXVECTOR3 e = r * ((std::pow(Length(v), 2.0f) - HUD_MU / rLength) / HUD_MU) - v * (rv / HUD_MU);
    o.Eccentricity = Length(e);
    o.SemiMajorAxis = pOrbit / (1.0f - std::pow(o.Eccentricity, 2.0f));
    o.Period = std::sqrt(std::pow(o.SemiMajorAxis, 3.0f) / HUD_MU) * HUD_TWO_PI;
    o.TrueAnomaly = AcosClamped(Dot(e, r) / (rLength * o.Eccentricity));
    if (rv < 0.0f) o.TrueAnomaly = HUD_TWO_PI - o.TrueAnomaly;
    o.Periapsis = pOrbit / (1.0f + o.Eccentricity);
    o.Inclination = AcosClamped(h.z / hLength);
    return o;
}

HudBearing BearingMark(const D3DXVECTOR3& own, const D3DXVECTOR3& target, const D3DXMATRIX& view)
{
    D3DXVECTOR3 d = own - target;
    D3DXVec3TransformCoord(&d, &d, &view);
    HudBearing b;
    b.Mark = -std::atan(d.y / d.z) * HUD_DEGREES;
    b.Bearing = std::atan(d.x / d.z) * HUD_DEGREES;
    if (d.z < 0.0f) b.Bearing = b.Bearing > 0.0f ? b.Bearing - 180.0f : b.Bearing + 180.0f;
    return b;
}

std::uint32_t EccentricityColour(float e)
{
    if (e >= 1.0f) return HUD_RED;
    if (e >= 0.75f) return HUD_DARK_RED;
    return HUD_DARK_GREEN;
}

std::uint32_t PeriapsisColour(float altitude)
{
    if (altitude < 0.0f) return HUD_RED;
    if (altitude < 63.0f) return HUD_DARK_RED;
    return HUD_DARK_GREEN;
}

void HudLines(const HudSnapshot& s, float W, float H, HudState& state, HudLineList& out)
{
    LineWriter lines(out);
    if (!IsVesselNumber(s.OwnVesselIndex)) return;
    const HudVessel& own = s.Vessels[s.OwnVesselIndex];
    const bool landed = own.Landed || s.TouchdownLatched;

    lines.Add(2.0f, 0.0f, HUD_YELLOW, "%s  Build %i T:%.3f", s.FrameStatsText, 142,
              static_cast<double>(s.VisibilityFactor));
    lines.Add(2.0f, 20.0f, HUD_YELLOW, "%s", s.DeviceText);

    if (s.TvmMode || s.DorMode) {
        lines.Add(2.0f, 40.0f, HUD_CYAN, "Velocity desired: %.3f km/s (Current: %.3f km/s)",
                  static_cast<double>(s.ThrustSetting), static_cast<double>(Length(s.RelativeVelocity)));
    } else {
        float thrust = s.ThrustSetting;
        if (thrust > 0.06f) thrust = 0.06f;
        if (thrust < -0.06f) thrust = -0.06f;
        state.DisplayedThrust = thrust * 1000.0f;
        lines.Add(2.0f, 40.0f, HUD_CYAN, "Thrust: %.3f m/s (Current velocity: %.3f km/s)",
                  static_cast<double>(state.DisplayedThrust), static_cast<double>(Length(own.Velocity)));
    }

    if (s.AltitudeMSL < 630.0f)
        lines.Add(2.0f, 60.0f, HUD_LIGHT_GREEN, "Altitude MSL: %.3f km (%.3f km AGL)", static_cast<double>(s.AltitudeMSL),
                  static_cast<double>(s.AltitudeMSL - (s.GroundRadius - PLANET_RADIUS)));
    else
        lines.Add(2.0f, 60.0f, HUD_LIGHT_GREEN, "Altitude MSL: %.3f km", static_cast<double>(s.AltitudeMSL));

    float seconds = state.UniverseSecondsAtSetup + s.AppTime - state.LocalTimeAtSetup;
    lines.Add(2.0f, 80.0f, HUD_LIGHT_BLUE, "Time UTC: %.0f:%.3f  (%.3f)", static_cast<double>(state.UniverseHours),
              static_cast<double>(seconds), static_cast<double>(s.SunElevation));
    if (seconds >= 3600.0f) {
        state.UniverseHours += 1.0f;
        if (state.UniverseSecondsAtSetup > 0.0f) state.UniverseSecondsAtSetup -= 3600.0f;
        else state.LocalTimeAtSetup += 3600.0f;
    }

    if (landed) lines.Add(2.0f, 120.0f, HUD_WHITE, "TOUCHDOWN!  F9 to liftoff (F8 if upside-down)");

    if (IsVesselNumber(s.TargetIndex)) {
        const HudVessel& t = s.Vessels[s.TargetIndex];
        D3DXVECTOR3 lag = t.PreviousPosition - t.TargetPosition;
        lines.Add(2.0f, 160.0f, HUD_GREY, "Network lag: X%.3f Y%.3f Z%.3f", static_cast<double>(lag.x),
                  static_cast<double>(lag.y), static_cast<double>(lag.z));
    } else {
        const D3DXVECTOR3& v = s.Objects[TargetObject(s.TargetIndex)].Velocity;
        lines.Add(2.0f, 160.0f, HUD_GREY, "Target I:%.3f J:%.3f K:%.3f", static_cast<double>(v.x),
                  static_cast<double>(v.y), static_cast<double>(v.z));
    }

    if (landed)
        lines.Add(2.0f, 180.0f, HUD_WHITE, "Impact force was %.1fG, %s", static_cast<double>(s.ImpactForce),
                  ImpactVerdict(s.ImpactForce));

    HudLatLong ll = LatLong(own.Position);
    lines.Add(2.0f, 100.0f, HUD_GREY, "Latitude: %c%.0f^%.0f'%.3f\"  Longitude: %c%.0f^%.0f'%.3f\"", ll.Lat.Letter,
              static_cast<double>(ll.Lat.Degrees), static_cast<double>(ll.Lat.Minutes),
              static_cast<double>(ll.Lat.Seconds), ll.Lon.Letter, static_cast<double>(ll.Lon.Degrees),
              static_cast<double>(ll.Lon.Minutes), static_cast<double>(ll.Lon.Seconds));

    const float centre = W * 0.5f;
    lines.Add(centre + 40.0f, 0.0f, HUD_GREY, "Heading: %.1f",
              static_cast<double>(Heading(own.Position, s.ForwardAxis, ll.Latitude, ll.Longitude)));

    HudAttitude attitude = Attitude(s.HomeWorldMatrix, own.WorldMatrix, s.TerrainSlopeVector);
    state.AttitudeRoll = attitude.Roll;
    state.AttitudePitch = attitude.Pitch;
    lines.Add(centre + 74.0f, H - 40.0f, HUD_GREY, "Roll: %.1f", static_cast<double>(-state.AttitudeRoll * HUD_DEGREES));
    lines.Add(centre + 65.0f, H - 20.0f, HUD_GREY, "Pitch: %.1f",
              static_cast<double>(-state.AttitudePitch * HUD_DEGREES));

    HudOrbit orbit = OrbitalElements(own.Position, own.Velocity);
    const float periapsisAltitude = orbit.Periapsis - PLANET_RADIUS;
    lines.Add(W - 120.0f, H - 100.0f, HUD_LIGHT_BLUE, "a: %4.3f km", static_cast<double>(orbit.SemiMajorAxis));
    lines.Add(W - 132.0f, H - 120.0f, HUD_LIGHT_BLUE, "TP: %5.2f s", static_cast<double>(orbit.Period));
    lines.Add(W - 120.0f, H - 80.0f, EccentricityColour(orbit.Eccentricity), "e: %0.6f",
              static_cast<double>(orbit.Eccentricity));
    lines.Add(W - 130.0f, H - 60.0f, PeriapsisColour(periapsisAltitude), "ap: %4.3f km",
              static_cast<double>(periapsisAltitude));
    lines.Add(W - 130.0f, H - 40.0f, HUD_GREY, "vo: %3.1f", static_cast<double>(orbit.TrueAnomaly * HUD_DEGREES));
    lines.Add(W - 115.0f, H - 20.0f, HUD_GREY, "i: %1.6f", static_cast<double>(orbit.Inclination * HUD_DEGREES));

    if (s.TvmMode == 1) lines.Add(centre + 40.0f, 20.0f, HUD_GREY, "TVM mode");
    if (s.DorMode == 1) lines.Add(centre + 40.0f, 20.0f, HUD_GREY, "DOR mode");

    lines.Add(2.0f, 140.0f, HUD_GREY, "Apparent I: %.3f  J: %.3f  K: %.3f", static_cast<double>(s.ApparentVelocity.x),
              static_cast<double>(s.ApparentVelocity.y), static_cast<double>(s.ApparentVelocity.z));

    for (const HudObject& object : s.Objects) {
        if (object.Kind != KIND_STATION || !(object.ViewerDistance < 30.0f)) continue;
        if (Length(object.Velocity - own.Velocity) > 0.25f)
            lines.Add(centre - 101.5f, H * 0.5f - 6.0f, HUD_RED, "EXCEEDING PORT SPEED");
    }

    lines.Add(W - 130.0f, H - 240.0f, HudAlphaColour(255.0f * s.ThrustAugAuthority, 0x00FF00), "THRUST AUG");

    std::uint32_t iasColour = HUD_GREEN;
    if (s.IndicatedAirspeed <= 0.04f) iasColour = HUD_RED;
    else if (std::fabs(s.AngleOfAttack * HUD_DEGREES) > 9.0f) iasColour = HUD_YELLOW;
    lines.Add(W - 132.0f, H - 160.0f, iasColour, "IAS: %3.1f m/s", static_cast<double>(s.IndicatedAirspeed * 1000.0f));

    lines.Add(W - 145.0f, H - 180.0f, HUD_LIGHT_BLUE, "Pitch: %2.3f", static_cast<double>(s.StickPitch * HUD_DEGREES));
    lines.Add(W - 144.0f, H - 200.0f, HUD_LIGHT_BLUE, " Trim: %2.3f", static_cast<double>(s.PitchTrim * HUD_DEGREES));

    for (int k = 0; k < BOARD_LINE_COUNT; ++k) {
        float& brightness = state.BoardBrightness[k];
        if (!(brightness > 0.0f)) continue;
        lines.AddText(2.0f, H - 20.0f * static_cast<float>(k + 1), HudAlphaColour(brightness, 0x0000FF),
                      s.BoardLines[k], BOARD_LINE_LENGTH);
        brightness = FadeBoardLine(brightness, s.ElapsedTime);
    }

    for (int k = 0; k < VESSEL_COUNT; ++k) {
        const float y = 40.0f + 20.0f * static_cast<float>(k);
        if (k == s.OwnVesselIndex) {
            lines.Add(W - 121.0f, y, HUD_LIGHT_GREEN, "%i  Self", k);
            continue;
        }
        const HudVessel& vessel = s.Vessels[k];
        const bool target = k == s.TargetIndex;
        std::uint32_t colour = vessel.Present ? (target ? HUD_LIGHT_RED : HUD_LIGHT_GREEN)
                                              : (target ? HUD_DARK_RED : HUD_DARK_GREEN);
        lines.Add(W - 120.0f, y, colour, "%i  %.3f km", k, static_cast<double>(vessel.Distance));
    }

    lines.Add(W - 137.0f, 0.0f, s.TargetIndex == -2 ? HUD_LIGHT_RED : HUD_LIGHT_GREEN, "O-4  %.3f km",
              static_cast<double>(s.Objects[1].ViewerDistance));
    lines.Add(W - 143.0f, 20.0f, s.TargetIndex == -1 ? HUD_DARK_RED : HUD_DARK_GREEN, "CTY  %.3f km",
              static_cast<double>(s.Objects[0].ViewerDistance));
    lines.Add(W - 143.0f, 200.0f, s.TargetIndex == -3 ? HUD_DARK_RED : HUD_DARK_GREEN, "TAC  %.3f km",
              static_cast<double>(s.Objects[2].ViewerDistance));

    const D3DXVECTOR3& targetPosition = IsVesselNumber(s.TargetIndex) ? s.Vessels[s.TargetIndex].Position
                                                                       : s.Objects[TargetObject(s.TargetIndex)].Position;
    HudBearing bearing = BearingMark(own.Position, targetPosition, s.ViewMatrix);
    lines.Add(centre + 44.0f, 40.0f, HUD_GREY, "Bearing: %.1f", static_cast<double>(bearing.Bearing));
    lines.Add(centre + 55.0f, 60.0f, HUD_GREY, "   Mark: %.1f", static_cast<double>(bearing.Mark));
}

float HudRoll = 0.0f;
float HudPitch = 0.0f;

void TakeBoard(MessageBoard& board, float elapsed, HudSnapshot& snapshot, HudState& state)
{
    ScopedSection lock(board.Lock);
    std::memcpy(snapshot.BoardLines, board.Lines, sizeof snapshot.BoardLines);
    for (int k = 0; k < BOARD_LINE_COUNT; ++k) {
        state.BoardBrightness[k] = board.Brightness[k];
        board.Brightness[k] = FadeBoardLine(board.Brightness[k], elapsed);
    }
}

namespace {

void TakeHudSnapshot(const CockpitApplication& app, float visibility, float sunElevation, HudSnapshot& s,
                     HudState& state)
{
    s.FrameStatsText = app.FrameStatsText;
    s.DeviceText = app.DeviceText;
    s.AppTime = app.AppTime;
    s.ElapsedTime = app.ElapsedTime;
    s.VisibilityFactor = visibility;
    s.SunElevation = sunElevation;
    s.AltitudeMSL = AltitudeMSL;
    s.GroundRadius = GroundRadius;
    s.TerrainSlopeVector = TerrainSlopeVector;
    s.OwnVesselIndex = OwnVesselIndex.load();
    for (int k = 0; k < VESSEL_COUNT; ++k) {
        VesselState& vessel = Vessels[k];
        HudVessel& copy = s.Vessels[k];
        ScopedSection lock(vessel.Lock);
        copy.Position = vessel.Position;
        copy.Velocity = vessel.Velocity;
        copy.TargetPosition = vessel.TargetPosition;
        copy.PreviousPosition = vessel.PreviousPosition;
        copy.WorldMatrix = vessel.WorldMatrix;
        copy.Distance = vessel.Distance;
        copy.Present = vessel.Present;
        copy.Landed = vessel.Landed;
    }
    for (int i = 0; i < UNIVERSE_OBJECT_COUNT; ++i) {
        const UniverseObject& object = UniverseObjects[i];
        s.Objects[i].Kind = object.Kind;
        s.Objects[i].ViewerDistance = object.ViewerDistance;
        s.Objects[i].Velocity = object.Velocity;
        s.Objects[i].Position = object.Position;
    }
    if (HomeObjectIndex < UNIVERSE_OBJECT_COUNT) s.HomeWorldMatrix = UniverseObjects[HomeObjectIndex].WorldMatrix;
    s.TargetIndex = TargetIndex;
    s.ThrustSetting = ThrustSetting;
    s.DorMode = DorMode;
    s.TvmMode = TvmMode;
    s.RelativeVelocity = RelativeVelocity;
    s.IndicatedAirspeed = IndicatedAirspeed;
    s.AngleOfAttack = AngleOfAttack;
    s.ThrustAugAuthority = ThrustAugAuthority;
    s.ApparentVelocity = ApparentVelocity;
    s.StickPitch = StickPitch.load();
    s.PitchTrim = PitchTrim;
    s.ImpactForce = ImpactForce;
    s.TouchdownLatched = TouchdownLatched;
    s.ForwardAxis = app.LandingLight.Direction;
    s.ViewMatrix = ViewMatrix;

    state.DisplayedThrust = DisplayedThrust;
    state.UniverseHours = UniverseHours.load();
    state.UniverseSecondsAtSetup = UniverseSecondsAtSetup.load();
    state.LocalTimeAtSetup = LocalTimeAtSetup.load();
    state.AttitudeRoll = HudRoll;
    state.AttitudePitch = HudPitch;
    TakeBoard(Board, app.ElapsedTime, s, state);
}

} // namespace

void HudFrame(const CockpitApplication& app, float visibility, float sunElevation, HudLineList& lines)
{
    lines.Count = 0;
    if (!IsVesselNumber(OwnVesselIndex.load())) return;
    HudSnapshot snapshot;
    HudState state;
    TakeHudSnapshot(app, visibility, sunElevation, snapshot, state);
    const float hours = state.UniverseHours;
    HudLines(snapshot, static_cast<float>(app.BackBufferDesc.Width), static_cast<float>(app.BackBufferDesc.Height),
             state, lines);

    DisplayedThrust = state.DisplayedThrust;
    HudRoll = state.AttitudeRoll;
    HudPitch = state.AttitudePitch;
    if (state.UniverseHours != hours) {
        UniverseSecondsAtSetup = state.UniverseSecondsAtSetup;
        LocalTimeAtSetup = state.LocalTimeAtSetup;
        UniverseHours = state.UniverseHours;
    }
}

HRESULT DrawHud(CockpitApplication& app, float visibility, float sunElevation)
{
    HudLineList lines;
    HudFrame(app, visibility, sunElevation, lines);
    if (app.HudFont == nullptr) return S_OK;
    for (int i = 0; i < lines.Count; ++i) {
        const HudLine& line = lines.Lines[i];
        app.HudFont->DrawText2D(line.X, line.Y, line.Colour, line.Text, 0);
    }
    return S_OK;
}
