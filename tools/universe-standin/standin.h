#pragma once
// Stand-in universe server: hosts the server session on the session layer so the
// console client has someone to talk to. It assigns vessel and registration
// numbers, sends each new player its configuration, the other vessels' state and
// "configuration complete", announces players coming and going, relays reports,
// chat and projectiles, flies drone vessels in circular orbits of the home planet
// and logs every message it receives with its send mode.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <atomic>
#include <condition_variable>

#include "client/wire.h"
#include "platform/math/d3dx_math.h"
#include "platform/net/dplay8.h"

// Names the server session (defined with the wire messages).
extern const GUID ServerApplicationGuid;

class UniverseStandin {
public:
    struct Options {
        std::uint16_t port = 0;       // 0: the first free port of the session range
        int drones = 3;               // 0 to 3; they take the highest vessel numbers
        float startHours = 12.0f;     // universe hours at start
        float startSeconds = 0.0f;    // universe seconds within the hour at start
        float newestBuild = 142.0f;   // newest console-client build announced
        std::uint32_t firstRegistration = 1001;
        std::FILE* log = stdout;      // null: no printed log
        bool keepLog = false;         // also keep the log lines for LogLines()
        // Where the sun and the home planet are read from, to place joining players.
        std::string universeFile = "universe.dat";
    };

    // The sun and the home planet as universe.dat gives them (the objects the view
    // program takes: the last home planet and the last sun in table order).
    struct Sky {
        float sunAngleA = 0.0f, sunRateA = 0.0f, sunDistance = 1.0f;
        float homeAngleB = 0.0f, homeRateB = 0.0f, homeTilt = 0.0f;
    };
    // Reads path into sky; false (sky unchanged) when the file does not open.
    static bool ReadSky(const std::string& path, Sky* sky);
    // Unit vector from the planet centre toward the sun at a universe time, in the
    // frame the view program draws in.
    static D3DXVECTOR3 SunDirection(const Sky& sky, float hours, float seconds);

    // A joining player's vessel: landed on the ground with the sun 35 degrees up,
    // level, nose toward the sun's side of the horizon, moving with the ground.
    struct StartState {
        D3DXVECTOR3 position, velocity;
        D3DXQUATERNION attitude;
        float groundRadius = 0.0f;
    };
    static StartState StartStateFor(const Sky& sky, float hours, float seconds);

    UniverseStandin();
    explicit UniverseStandin(const Options& options);
    ~UniverseStandin();
    UniverseStandin(const UniverseStandin&) = delete;
    UniverseStandin& operator=(const UniverseStandin&) = delete;

    // Hosts the session and starts the drones. Returns the session layer's result.
    HRESULT Start();
    void Stop();
    std::uint16_t Port() const { return port_; }

    // One command line, as typed on standard input:
    //   chat <text>        chat line from the first drone (or vessel 0) to every player
    //   shutdown           announce the server shutting down (type 7)
    //   drop <vessel>      end that player's connection
    //   refuse             refuse the next player (configuration with vessel 255)
    //   newer <build>      announce a newer console-client build (players online get a
    //                      fresh configuration message, later players carry it too)
    //   list               print the vessels
    //   help
    // Returns false for an unknown or malformed command (after printing why).
    bool Command(const std::string& line);

    // Kept log lines (Options::keepLog), oldest first.
    std::vector<std::string> LogLines() const;
    // Number of players holding a vessel.
    int PlayerCount() const;

    // Universe time now: hours and seconds within the hour.
    void UniverseTime(float* hours, float* seconds) const;

    // Chat text as it goes on the wire (Windows-1252) from a command line: text that
    // is well-formed UTF-8 (typed on a UTF-8 terminal) is converted, one byte per
    // character, '?' for characters Windows-1252 lacks, control characters left out;
    // anything else is taken as 8-bit text already and kept byte for byte.
    static std::string ChatTextFromCommand(const std::string& typed);
    // Windows-1252 text from the wire as UTF-8, for the log; control characters as '?'.
    static std::string ChatTextForLog(const char* text);

private:
    struct Vessel {
        enum Kind { Empty, Player, Drone } kind = Empty;
        DPNID player = 0;
        float registration = 1.0f;
        bool announced = false;  // player answered its configuration
        float position[3] = {};
        float velocity[3] = {};
        float attitude[4] = {0, 0, 0, 1};
        float rates[3] = {};
        float groundRadius = 2939.6f;
        float sampleSeconds = 0.0f;
        // drone orbit
        double orbitRadius = 0;
        double phase = 0;
        double inclination = 0;
        double node = 0;
    };

    static HRESULT Handler(PVOID context, DWORD id, PVOID message);
    HRESULT Handle(DWORD id, PVOID message);
    void OnCreate(DPNID player);
    void OnDestroy(DPNID player);
    void OnReceive(DPNID player, const BYTE* data, DWORD size, bool guaranteed);
    void OnStatus(int vessel, const StatusPacket& p, bool guaranteed);
    void OnEvent(int vessel, const EventPacket& e, bool guaranteed);
    void DroneLoop();
    void MoveDrone(Vessel& v, double universeSeconds);
    void SendStatus(DPNID to, const StatusPacket& p, bool guaranteed);
    void SendEvent(DPNID to, const EventPacket& e, bool guaranteed);
    void SendToPlayers(const void* data, DWORD size, bool guaranteed, int exceptVessel);
    void SendVesselState(DPNID to, int i);
    int VesselOf(DPNID player) const;
    double UniverseSecondsTotal() const;
    void Log(const char* format, ...);

    Options options_;
    IDirectPlay8Server* server_ = nullptr;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;  // guards everything below
    Vessel vessels_[VESSEL_COUNT];
    bool running_ = false;  // commands are taken
    bool refuseNext_ = false;
    float newestBuild_;
    std::uint32_t nextRegistration_;
    std::vector<std::string> logLines_;
    std::thread drones_;
    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    bool stopping_ = false;
    double startClock_ = 0;
    Sky sky_;
    std::mutex logMutex_;
};
