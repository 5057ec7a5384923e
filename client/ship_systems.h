#pragma once
// The own ship's on-board systems, loaded from systems.dat and advanced once a
// second: random failures from each system's MTBF, repair, and power through up
// to three links with bypass/shunt fall-backs. Main thread only.
#include "platform/sys/critical_section.h"
#include "platform/sys/crt.h"
#include "platform/sys/hresult.h"

#include <cstdint>

constexpr int SHIP_SYSTEM_COUNT = 44;                   // systems 1..44
constexpr int SHIP_SYSTEM_SLOTS = SHIP_SYSTEM_COUNT + 1;  // entry 0 unused
constexpr std::uint8_t SHIP_SYSTEM_TYPE_OK = 0;         // reported "Ok" at load
constexpr std::uint8_t SHIP_SYSTEM_TYPE_BYPASS = 3;     // bypass/shunt

// Power source values in the link fields.
constexpr std::int16_t POWER_SOURCE_NONE = -1;
constexpr std::int16_t POWER_SOURCE_SWITCH = 0;  // the system's own switch
// 1..44: that system.

struct ShipSystem {
    float value0 = 0.0f;
    float value4 = 0.0f;
    float fedSystem = 0.0f;   // bypass/shunt: system fed this second, 0 = free
    float automatic = 0.0f;   // bypass/shunt: 1.0 = switches in by itself
    float value32 = 0.0f;
    float value52 = 0.0f;
    float fullCondition = 0.0f;
    float condition = 0.0f;
    float value89 = 0.0f;
    float value93 = 0.0f;
    float value97 = 0.0f;
    float value128 = 0.0f;
    float repairMinutes = 0.0f;  // minutes from 0 to full; 0 or less = no repair
    std::int32_t mtbf = 0;       // hours
    std::int16_t value20 = 0;
    std::int16_t value177 = 0;
    std::int16_t link1Primary = 0;
    std::int16_t link1Alternate = 0;
    std::int16_t link2Primary = 0;
    std::int16_t link2Alternate = 0;
    std::int16_t link3Primary = 0;
    std::int16_t link3Alternate = 0;
    std::uint8_t switchOn = 0;      // the system's own switch: 1 = on
    std::uint8_t flag112 = 0;
    std::uint8_t withoutPower = 0;  // 1 = no power
    char name[26] = {};
    char code[9] = {};
    char secondText[26] = {};
    std::uint8_t type = 0;
    CriticalSectionLock lock;  // never taken: the table is main-thread only
};

extern ShipSystem ShipSystems[SHIP_SYSTEM_SLOTS];
// The systems' own random sequence: state 1 at start, never re-seeded.
extern crt::RandomGenerator ShipSystemsRandom;

// Reads systems 1..44 from "systems.dat" in the working folder and prints
// "Ok... <name>" for each of type 0, then a blank line. E_FAIL when the file
// does not open (nothing printed). Fields past the end of a short file keep
// their values; link values outside -1..44 become -1 (reported once).
HRESULT LoadShipSystems();
// One second of the model: failures, repair, power; prints each change.
void UpdateShipSystems();
