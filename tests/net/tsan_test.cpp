// Sends from a handler and from other threads at once, with statistics read
// meanwhile; run under ThreadSanitizer.
#include <atomic>
#include <memory>

#include "tests/net/session_helpers.h"

using namespace nettest;

namespace {

TEST(SessionThreads, SendsFromHandlersAndMainThreadAtOnce)
{
    TestServer s;
    std::atomic<DPNID> player{0};
    std::atomic<int> echoed{0};
    // The host echoes every message back from inside its handler.
    s.rec.hook = [&](DWORD id, PVOID message) {
        if (id == DPN_MSGID_CREATE_PLAYER) {
            auto* m = static_cast<DPNMSG_CREATE_PLAYER*>(message);
            if (player.load() == 0 && echoed.load() == 0 && m->dpnidPlayer != 0) player = m->dpnidPlayer;
        } else if (id == DPN_MSGID_RECEIVE) {
            auto* m = static_cast<DPNMSG_RECEIVE*>(message);
            SendTo(s.server, m->dpnidSender, m->pReceiveData, m->dwReceiveDataSize, true);
            DPN_CONNECTION_INFO info = NewInfo();
            s.server->GetConnectionInfo(m->dpnidSender, &info, 0);
            ++echoed;
        }
    };
    ASSERT_EQ(s.Start(kAppA), S_OK);
    TestClient c;
    // The client forwards each echo to the host again from its handler, once.
    std::atomic<int> forwarded{0};
    c.rec.hook = [&](DWORD id, PVOID message) {
        if (id != DPN_MSGID_RECEIVE) return;
        auto* m = static_cast<DPNMSG_RECEIVE*>(message);
        if (m->dwReceiveDataSize == 8 && m->pReceiveData[0] == 'M') {
            BYTE again[9] = {'F'};
            DPN_BUFFER_DESC b{sizeof again, again};
            DPNHANDLE h;
            c.client->Send(&b, 1, 0, nullptr, &h, DPNSEND_GUARANTEED | DPNSEND_NOLOOPBACK);
            ++forwarded;
        }
    };
    ASSERT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));

    std::atomic<bool> stop{false};
    std::thread stats([&] {
        while (!stop.load()) {
            DPN_CONNECTION_INFO info = NewInfo();
            c.client->GetConnectionInfo(&info, 0);
            std::this_thread::yield();
        }
    });
    std::thread broadcaster([&] {
        for (int i = 0; i < 300; ++i) {
            const BYTE m[20] = {'B'};
            SendTo(s.server, DPNID_ALL_PLAYERS_GROUP, m, 20, i % 2 == 0);
        }
    });
    for (int i = 0; i < 300; ++i) {
        BYTE m[8] = {'M'};
        std::memcpy(m + 4, &i, 4);
        ASSERT_EQ(c.Send(m, 8, i % 2 == 0), S_OK);
    }
    broadcaster.join();
    EXPECT_TRUE(s.rec.WaitFor(DPN_MSGID_RECEIVE, 450, 10000));
    stop = true;
    stats.join();
    EXPECT_GE(forwarded.load(), 150);
    EXPECT_GE(echoed.load(), 300);
}

// Sends from other threads while Close runs: every send either goes out before the
// close or is refused; nothing is left queued (leaks) or written after Close.
TEST(SessionThreads, SendsRacingCloseAreSentOrRefused)
{
    for (int round = 0; round < 15; ++round) {
        TestServer s;
        ASSERT_EQ(s.Start(kAppA), S_OK);
        auto c = std::make_unique<TestClient>();
        ASSERT_EQ(c->ConnectTo(kAppA, s.port), S_OK);
        ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));
        std::atomic<bool> closed{false};
        std::atomic<int> lateAccepted{0};
        const bool clientCloses = round % 2 == 0;
        // Sends to the object that closes must be refused once Close has returned.
        auto sender = [&](bool ofClosing, auto send) {
            for (;;) {
                const bool after = closed.load();
                const HRESULT hr = send();
                if (after && ofClosing && hr == S_OK) ++lateAccepted;
                if (after) return;
            }
        };
        std::thread fromClient([&] {
            sender(clientCloses, [&] {
                const BYTE m[20] = {'C'};
                return c->Send(m, 20, true);
            });
        });
        std::thread fromServer([&] {
            sender(!clientCloses, [&] {
                const BYTE m[20] = {'S'};
                return SendTo(s.server, DPNID_ALL_PLAYERS_GROUP, m, 20, round % 2 == 0);
            });
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
        if (clientCloses) {
            EXPECT_EQ(c->client->Close(0), S_OK);
        } else {
            EXPECT_EQ(s.server->Close(0), S_OK);
        }
        closed = true;
        fromClient.join();
        fromServer.join();
        EXPECT_EQ(lateAccepted.load(), 0);
    }
}

}  // namespace
