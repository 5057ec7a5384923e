#include "client/ship_systems.h"

#include <cmath>
#include <cstdio>
#include <cstring>

crt::RandomGenerator ShipSystemsRandom;

namespace {

constexpr long kRecordStride = 1000;
constexpr long kRecordBase = -1;  // record p starts at p * 1000 - 1

// Float to integer, truncating toward zero; NaN gives 0 and values beyond the
// range saturate (the conversion itself must never be undefined).
std::int32_t TruncateToInt32(float v)
{
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

class RecordReader {
public:
    RecordReader(int fd, long base) : fd_(fd), base_(base) {}

    // Reads size bytes at the record offset into out; false (out untouched) when
    // the file does not hold them all.
    bool Bytes(long offset, void* out, unsigned size)
    {
        unsigned char buf[32];
        if (size > sizeof buf) return false;
        if (crt::Seek(fd_, base_ + offset, crt::SEEK_SET_) != base_ + offset) return false;
        if (crt::Read(fd_, buf, size) != static_cast<int>(size)) return false;
        std::memcpy(out, buf, size);
        return true;
    }

    void Float(long offset, float& out) { Bytes(offset, &out, 4); }

    void Int32(long offset, std::int32_t& out)
    {
        float v;
        if (Bytes(offset, &v, 4)) out = TruncateToInt32(v);
    }

    void Int16(long offset, std::int16_t& out)
    {
        float v;
        if (Bytes(offset, &v, 4)) out = static_cast<std::int16_t>(TruncateToInt32(v));
    }

    void Int8(long offset, std::uint8_t& out)
    {
        float v;
        if (Bytes(offset, &v, 4)) out = static_cast<std::uint8_t>(TruncateToInt32(v));
    }

    // A power link: a value outside -1..44 would index outside the table, so it
    // becomes "no source" and is counted in BadLinks().
    void Link(long offset, std::int16_t& out)
    {
        float v;
        if (!Bytes(offset, &v, 4)) return;
        std::int32_t link = TruncateToInt32(v);
        if (std::isnan(v) || link < POWER_SOURCE_NONE || link > SHIP_SYSTEM_COUNT) {
            out = POWER_SOURCE_NONE;
            ++badLinks_;
            return;
        }
        out = static_cast<std::int16_t>(link);
    }
    int BadLinks() const { return badLinks_; }

    void Flag(long offset, std::uint8_t& out)
    {
        float v;
        if (Bytes(offset, &v, 4)) out = v != 0.0f ? 1 : 0;
    }

    void Text(long offset, char* out, unsigned size)
    {
        if (Bytes(offset, out, size)) out[size] = '\0';
    }

private:
    int fd_;
    long base_;
    int badLinks_ = 0;
};

// Returns the number of link values that were out of range.
int ReadRecord(int fd, int p, ShipSystem& s)
{
    RecordReader r(fd, p * kRecordStride + kRecordBase);
    r.Float(0, s.value0);
    r.Float(4, s.value4);
    r.Float(8, s.fedSystem);
    r.Float(12, s.automatic);
    r.Int16(20, s.value20);
    r.Int8(24, s.type);
    r.Float(32, s.value32);
    r.Flag(40, s.switchOn);
    r.Int32(48, s.mtbf);
    r.Float(52, s.value52);
    r.Float(56, s.fullCondition);
    r.Float(60, s.condition);
    r.Text(64, s.name, 25);
    r.Float(89, s.value89);
    r.Float(93, s.value93);
    r.Float(97, s.value97);
    r.Text(104, s.code, 8);
    r.Flag(112, s.flag112);
    r.Link(116, s.link2Primary);
    r.Link(120, s.link1Primary);
    r.Link(124, s.link3Primary);
    r.Float(128, s.value128);
    r.Flag(132, s.withoutPower);
    r.Float(136, s.repairMinutes);
    r.Link(140, s.link2Alternate);
    r.Link(144, s.link1Alternate);
    r.Link(148, s.link3Alternate);
    r.Text(152, s.secondText, 25);
    r.Int16(177, s.value177);
    return r.BadLinks();
}

// Whether a link's primary source delivers power to system s.
bool PrimaryOk(const ShipSystem& s, std::int16_t primary, std::int16_t alternate)
{
    if (primary == POWER_SOURCE_NONE) return alternate == POWER_SOURCE_NONE;
    if (primary == POWER_SOURCE_SWITCH) return s.switchOn == 1;
    return ShipSystems[primary].withoutPower != 1;
}

// Whether a link's alternate source delivers power to system number sn; claims
// an automatic bypass/shunt for it.
bool AlternateOk(int sn, std::int16_t alternate)
{
    const ShipSystem& s = ShipSystems[sn];
    if (alternate == POWER_SOURCE_NONE) return false;
    if (alternate == POWER_SOURCE_SWITCH) return s.switchOn == 1;
    ShipSystem& a = ShipSystems[alternate];
    if (a.withoutPower == 1) return false;
    if (a.type != SHIP_SYSTEM_TYPE_BYPASS) return true;
    if (a.fedSystem != 0.0f) return false;
    if (a.automatic == 1.0f) {
        std::printf("Auto-bypass/shunt: %s\n", a.name);
        a.fedSystem = static_cast<float>(sn);
        return true;
    }
    std::printf("Manual bypass/shunt indicated: %s\n", a.name);
    return false;
}

std::int16_t ValidSource(std::int16_t link)
{
    return link >= POWER_SOURCE_NONE && link <= SHIP_SYSTEM_COUNT ? link : POWER_SOURCE_NONE;
}

bool LinkOk(int sn, std::int16_t primary, std::int16_t alternate)
{
    primary = ValidSource(primary);
    alternate = ValidSource(alternate);
    if (PrimaryOk(ShipSystems[sn], primary, alternate)) return true;
    return AlternateOk(sn, alternate);
}

}  // namespace

HRESULT LoadShipSystems()
{
    int fd = crt::Open("systems.dat", crt::O_RDONLY_ | crt::O_BINARY_);
    if (fd < 0) return E_FAIL;
    int badLinks = 0;
    for (int p = 1; p <= SHIP_SYSTEM_COUNT; ++p) {
        ShipSystem& s = ShipSystems[p];
        badLinks += ReadRecord(fd, p, s);
        if (s.type == SHIP_SYSTEM_TYPE_OK) std::printf("Ok... %s\n", s.name);
    }
    crt::Close(fd);
    if (badLinks > 0)
        std::printf("[Error!] \"systems.dat\" has %i power link(s) outside -1 to 44, treated as no source\n",
                    badLinks);
    std::printf("\n");
    std::fflush(stdout);
    return S_OK;
}

void UpdateShipSystems()
{
    for (int sn = 1; sn <= SHIP_SYSTEM_COUNT; ++sn) {
        if (ShipSystems[sn].type == SHIP_SYSTEM_TYPE_BYPASS) ShipSystems[sn].fedSystem = 0.0f;
    }
    for (int sn = 1; sn <= SHIP_SYSTEM_COUNT; ++sn) {
        ShipSystem& s = ShipSystems[sn];

        // Failure: 32-bit wrap-around product, truncating division.
        int draw = ShipSystemsRandom.Next();
        std::uint32_t product =
            static_cast<std::uint32_t>(draw) * static_cast<std::uint32_t>(s.mtbf) * 3600u;
        std::int32_t q = static_cast<std::int32_t>(product) / 32767;
        if (q == 1) {
            float damage = static_cast<float>(ShipSystemsRandom.Next() / 32767.0 * s.condition);
            if (damage != 0.0f) {
                s.condition = s.condition - damage;
                std::printf("Damage %.0f for MTBF failure: %s\n", damage, s.name);
            }
        }

        // Repair.
        if (s.repairMinutes > 0.0f && s.condition < s.fullCondition) {
            s.condition = s.condition + s.fullCondition / 60.0f / s.repairMinutes;
            if (s.condition >= s.fullCondition) {
                s.condition = s.fullCondition;
                std::printf("System restored to 100: %s\n", s.name);
            }
        }

        // Power: all three links are evaluated, in order.
        bool link1 = LinkOk(sn, s.link1Primary, s.link1Alternate);
        bool link2 = LinkOk(sn, s.link2Primary, s.link2Alternate);
        bool link3 = LinkOk(sn, s.link3Primary, s.link3Alternate);
        if (link1 && link2 && link3) {
            if (s.withoutPower == 1) std::printf("Resumed operation: %s\n", s.name);
            s.withoutPower = 0;
        } else {
            if (s.withoutPower == 0) std::printf("Lost power: %s\n", s.name);
            s.withoutPower = 1;
        }
    }
    std::fflush(stdout);
}
