#include "tools/sample-data/binary_writer.h"
#include "tools/sample-data/sample_data.h"

namespace sample_data {
namespace {

struct SystemSpec {
    const char* name;
    const char* code;
    const char* location;
    float type;
    float mtbfHours;
    float repairMinutes;
    float condition;
    float links[6];  // link 1 primary, alternate; link 2 ...; link 3 ...
};

constexpr float N = -1.0f;  // no source
constexpr float S = 0.0f;   // own switch

// Types: 0 ordinary system, 1 power source, 2 bus, 3 bypass/shunt.
constexpr SystemSpec kShip[SYSTEM_COUNT] = {
    {"Fusion Reactor", "RCT-01", "Engineering", 1, 8000, 240, 100, {S, N, N, N, N, N}},
    {"Main Bus A", "BUS-A", "Engineering", 2, 20000, 60, 100, {1, N, N, N, N, N}},
    {"Main Bus B", "BUS-B", "Engineering", 2, 20000, 60, 100, {1, N, N, N, N, N}},
    {"Battery Bank", "BAT-01", "Engineering", 1, 12000, 90, 100, {S, N, N, N, N, N}},
    {"Bus Tie Shunt", "SHT-01", "Engineering", 3, 15000, 45, 100, {4, N, N, N, N, N}},
    {"Emergency Crosslink", "SHT-02", "Engineering", 3, 15000, 45, 100, {4, N, N, N, N, N}},
    {"Avionics Bus", "BUS-AV", "Avionics bay", 2, 18000, 60, 100, {2, 5, N, N, N, N}},
    {"Life Support", "LSS-01", "Deck 2", 0, 9000, 120, 100, {2, 5, S, N, N, N}},
    {"Navigation Computer", "NAV-01", "Bridge", 0, 6000, 30, 100, {7, N, N, N, N, N}},
    {"Landing Lights", "LGT-01", "Hull", 0, 4000, 15, 100, {S, N, 3, 6, N, N}},
    {"Comms Transceiver", "COM-01", "Bridge", 0, 5000, 40, 100, {7, 6, N, N, N, N}},
    {"Radar Altimeter", "RAD-01", "Avionics bay", 0, 5000, 30, 85, {7, N, N, N, N, N}},
    {"Attitude Thrusters", "RCS-01", "Hull", 0, 7000, 90, 100, {3, 5, N, N, N, N}},
    {"Main Engine Gimbal", "ENG-GB", "Engineering", 0, 7000, 120, 100, {3, N, N, N, N, N}},
    {"Fuel Pump A", "FPA-01", "Engineering", 0, 6000, 60, 100, {2, N, N, N, N, N}},
    {"Fuel Pump B", "FPB-01", "Engineering", 0, 6000, 60, 100, {3, N, N, N, N, N}},
    {"Hydraulic Pump", "HYD-01", "Deck 3", 0, 5000, 75, 100, {3, N, S, N, N, N}},
    {"Landing Gear", "LDG-01", "Deck 3", 0, 10000, 90, 100, {17, N, 3, N, N, N}},
    {"Docking Clamp", "DCK-01", "Deck 1", 0, 10000, 60, 100, {3, N, N, N, N, N}},
    {"Weapons Capacitor", "WPN-CP", "Deck 1", 0, 4000, 45, 100, {2, N, S, N, N, N}},
    {"Targeting Computer", "TGT-01", "Bridge", 0, 6000, 30, 100, {7, N, N, N, N, N}},
    {"Cabin Pressure", "ECS-02", "Deck 2", 0, 12000, 60, 100, {8, N, N, N, N, N}},
    {"Oxygen Scrubber", "ECS-03", "Deck 2", 0, 8000, 45, 100, {8, N, N, N, N, N}},
    {"Water Recycler", "ECS-04", "Deck 2", 0, 8000, 45, 100, {8, N, N, N, N, N}},
    {"Thermal Control", "THM-01", "Engineering", 0, 9000, 60, 100, {2, 5, N, N, N, N}},
    {"Radiator Pump", "THM-02", "Hull", 0, 7000, 60, 100, {25, N, N, N, N, N}},
    {"Inertial Reference", "IRU-01", "Avionics bay", 0, 15000, 40, 100, {7, N, N, N, N, N}},
    {"Star Tracker", "STR-01", "Hull", 0, 9000, 10, 97, {7, N, N, N, N, N}},
    {"Flight Recorder", "FDR-01", "Avionics bay", 0, 30000, 20, 100, {4, N, N, N, N, N}},
    {"Data Bus", "DBS-01", "Avionics bay", 2, 20000, 30, 100, {7, N, N, N, N, N}},
    {"Display Unit", "DSP-01", "Bridge", 0, 8000, 20, 100, {30, N, N, N, N, N}},
    {"HUD Projector", "HUD-01", "Bridge", 0, 8000, 20, 100, {30, N, S, N, N, N}},
    {"Nav Lights", "LGT-02", "Hull", 0, 6000, 15, 100, {3, N, S, N, N, N}},
    {"Beacon", "BCN-01", "Hull", 0, 12000, 15, 100, {4, N, N, N, N, N}},
    {"Shield Generator", "SHD-01", "Deck 1", 0, 5000, 180, 100, {2, N, 1, N, N, N}},
    {"Cargo Bay Doors", "CRG-01", "Deck 3", 0, 10000, 60, 100, {17, N, N, N, N, N}},
    {"Airlock", "AIR-01", "Deck 1", 0, 15000, 60, 100, {3, 6, N, N, N, N}},
    {"Fire Suppression", "FIR-01", "Deck 2", 0, 25000, 30, 100, {4, N, N, N, N, N}},
    {"Ejection System", "EJT-01", "Bridge", 0, 40000, 120, 100, {4, N, S, N, N, N}},
    {"Autopilot", "AP-01", "Bridge", 0, 7000, 30, 100, {9, N, 27, N, N, N}},
    {"Hull Sensors", "HUL-01", "Hull", 0, 9000, 30, 100, {30, N, N, N, N, N}},
    {"Antenna Drive", "ANT-01", "Hull", 0, 6000, 30, 100, {11, N, N, N, N, N}},
    {"Cabin Heater", "HTR-01", "Deck 2", 0, 5000, 20, 100, {3, N, S, N, N, N}},
    {"Auxiliary Power Unit", "APU-01", "Engineering", 1, 6000, 120, 100, {S, N, N, N, N, N}},
};

}  // namespace

std::array<SystemRecord, SYSTEM_COUNT> SampleSystems()
{
    std::array<SystemRecord, SYSTEM_COUNT> out;
    for (int i = 0; i < SYSTEM_COUNT; ++i) {
        const SystemSpec& s = kShip[i];
        SystemRecord& r = out[i];
        r.name = s.name;
        r.code = s.code;
        r.secondText = s.location;
        r.type = s.type;
        // The bus tie shunt switches in by itself; the emergency crosslink needs the crew.
        r.automatic = (i + 1 == 5) ? 1.0f : 0.0f;
        r.switchOn = 1.0f;
        r.mtbfHours = s.mtbfHours;
        r.fullCondition = 100.0f;
        r.condition = s.condition;
        r.repairMinutes = s.repairMinutes;
        r.link1Primary = s.links[0];
        r.link1Alternate = s.links[1];
        r.link2Primary = s.links[2];
        r.link2Alternate = s.links[3];
        r.link3Primary = s.links[4];
        r.link3Alternate = s.links[5];
    }
    return out;
}

bool WriteSystemsFile(const std::string& path, std::span<const SystemRecord> records)
{
    std::size_t count = records.size() < SYSTEM_COUNT ? records.size() : SYSTEM_COUNT;
    BinaryImage image(count * SYSTEM_RECORD_SIZE + (count ? SYSTEM_RECORD_SIZE - 1 : 0));
    for (std::size_t i = 0; i < count; ++i) {
        const SystemRecord& r = records[i];
        long base = static_cast<long>(i + 1) * SYSTEM_RECORD_SIZE - 1;
        image.PutFloat(base + SYSTEM_AUTOMATIC, r.automatic);
        image.PutFloat(base + SYSTEM_TYPE, r.type);
        image.PutFloat(base + SYSTEM_SWITCH, r.switchOn);
        image.PutFloat(base + SYSTEM_MTBF, r.mtbfHours);
        image.PutFloat(base + SYSTEM_FULL_CONDITION, r.fullCondition);
        image.PutFloat(base + SYSTEM_CONDITION, r.condition);
        image.PutText(base + SYSTEM_NAME, r.name, 25);
        image.PutText(base + SYSTEM_CODE, r.code, 8);
        image.PutFloat(base + SYSTEM_LINK2_PRIMARY, r.link2Primary);
        image.PutFloat(base + SYSTEM_LINK1_PRIMARY, r.link1Primary);
        image.PutFloat(base + SYSTEM_LINK3_PRIMARY, r.link3Primary);
        image.PutFloat(base + SYSTEM_WITHOUT_POWER, r.withoutPower);
        image.PutFloat(base + SYSTEM_REPAIR_MINUTES, r.repairMinutes);
        image.PutFloat(base + SYSTEM_LINK2_ALTERNATE, r.link2Alternate);
        image.PutFloat(base + SYSTEM_LINK1_ALTERNATE, r.link1Alternate);
        image.PutFloat(base + SYSTEM_LINK3_ALTERNATE, r.link3Alternate);
        image.PutText(base + SYSTEM_SECOND_TEXT, r.secondText, 25);
    }
    return image.WriteTo(path);
}

}  // namespace sample_data
