// A view program's position report across the hour carries the own vessel by the
// short difference of the two times.
#include "client/client_state.h"
#include "client/session_host.h"
#include "client/wire.h"
#include "platform/net/dplay8.h"

#include <gtest/gtest.h>

namespace {

double ReportedAt(float vesselTime, float sampleTime)
{
    constexpr std::uint8_t own = 5;
    {
        ScopedSection time(UniverseClock.lock);
        UniverseClock.ownVessel = own;
        UniverseClock.secondsAtSetup = vesselTime;
        UniverseClock.localReference = 0.0f;
    }
    ShipRecord& s = Ships[own];
    {
        ScopedSection ship(s.lock);
        s.lastUpdate = 0.0f;
        s.onGround = 1;
        s.velocity = D3DXVECTOR3(1.0f, 0.0f, 0.0f);
        s.surfaceVelocity = D3DXVECTOR3();
    }
    StatusPacket p = MakeStatusPacket(STATUS_POSITION, own, 3000.0f, 0.0f, 0.0f, sampleTime);
    DPNMSG_RECEIVE m{};
    m.dwSize = sizeof m;
    m.dpnidSender = 0x1234;
    m.pReceiveData = reinterpret_cast<BYTE*>(&p);
    m.dwReceiveDataSize = STATUS_PACKET_SIZE;
    {
        ScopedSection slot(PeerSlots[0].lock);   // the view has registered
        PeerSlots[0].occupied = 1;
        PeerSlots[0].dpnid = m.dpnidSender;
    }
    SessionOnline.store(1);   // no server object: nothing is relayed
    PeerMessageHandler(nullptr, DPN_MSGID_RECEIVE, &m);
    SessionOnline.store(0);
    {
        ScopedSection slot(PeerSlots[0].lock);
        PeerSlots[0].occupied = 0;
        PeerSlots[0].dpnid = 0;
    }
    ScopedSection ship(s.lock);
    return s.doublePosition[0];
}

}  // namespace

TEST(ViewPositionReport, DifferenceAcrossTheHourIsTakenTheShortWay)
{
    EXPECT_NEAR(ReportedAt(3599.9f, 0.1f), 3000.0 - 0.2, 1e-3);
    EXPECT_NEAR(ReportedAt(0.1f, 3599.9f), 3000.0 + 0.2, 1e-3);
    EXPECT_NEAR(ReportedAt(20.5f, 20.0f), 3000.0 + 0.5, 1e-3);
}
