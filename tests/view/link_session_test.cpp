// The view's link against a stand-in console client hosting the local session on
// the loopback interface (each test process has its own network namespace).
#include "session_link_support.h"
#include "view_test_support.h"

#include "platform/net/dplay8.h"
#include "view/link_session.h"
#include "view/log_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <vector>

using namespace viewtest;

namespace {

using Clock = std::chrono::steady_clock;

// Answers a registration the way the console client does: a refusal, or the set-up,
// the initial state of all eight vessels and the end message.
class StandInHost {
public:
    enum class Mode { Grant, Refuse };

    explicit StandInHost(Mode mode) : mode_(mode) {}
    ~StandInHost() { Stop(); }

    bool Start()
    {
        if (FAILED(CoCreateInstance(CLSID_DirectPlay8Server, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Server,
                                    reinterpret_cast<void**>(&server_))))
            return false;
        if (FAILED(server_->Initialize(this, Handler, 0))) return false;
        DPN_APPLICATION_DESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DPNSESSION_CLIENT_SERVER;
        desc.guidApplication = PeerApplicationGuid;
        desc.pwszSessionName = const_cast<WCHAR*>(u"Peer to Peer");
        IDirectPlay8Address* device = nullptr;
        CoCreateInstance(CLSID_DirectPlay8Address, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Address,
                         reinterpret_cast<void**>(&device));
        device->SetSP(&CLSID_DP8SP_TCPIP);
        const HRESULT hr = server_->Host(&desc, &device, 1, nullptr, nullptr, nullptr, 0);
        device->Release();
        return SUCCEEDED(hr);
    }

    void Stop()
    {
        if (server_ == nullptr) return;
        server_->Close(0);
        server_->Release();
        server_ = nullptr;
    }

    // Waits for the registration; returns its packet.
    bool WaitForRegistration(StatusPacket* out, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return registered_; })) return false;
        *out = registration_;
        return true;
    }
    Clock::time_point answeredAt;

private:
    static HRESULT Handler(PVOID context, DWORD id, PVOID message)
    {
        auto* self = static_cast<StandInHost*>(context);
        if (id == DPN_MSGID_RECEIVE) self->Receive(*static_cast<DPNMSG_RECEIVE*>(message));
        return S_OK;
    }

    void SendTo(DPNID to, const StatusPacket& p)
    {
        DPN_BUFFER_DESC buffer{sizeof p, reinterpret_cast<BYTE*>(const_cast<StatusPacket*>(&p))};
        DPNHANDLE handle = 0;
        server_->SendTo(to, &buffer, 1, 0, nullptr, &handle, DPNSEND_GUARANTEED | DPNSEND_NOLOOPBACK);
    }

    void Receive(const DPNMSG_RECEIVE& m)
    {
        StatusPacket p;
        if (!ReadStatusPacket(m.pReceiveData, m.dwReceiveDataSize, &p) || p.Type != STATUS_SHUTDOWN) return;
        answeredAt = Clock::now();
        if (mode_ == Mode::Refuse) {
            SendTo(m.dpnidSender, MakeStatusPacket(STATUS_CONFIGURATION, VESSEL_NONE, 0, 0, 0, 0));
        } else {
            SendTo(m.dpnidSender, MakeStatusPacket(STATUS_CONFIGURATION, 2, 100.0f, 0.0f, 3.0f, 777.0f));
            for (std::uint8_t i = 0; i < 8; ++i) {
                if (i == 5) SendTo(m.dpnidSender, MakeStatusPacket(STATUS_PLAYER_ONLINE, i, 0, 0, 0, 555.0f));
                SendTo(m.dpnidSender, MakeStatusPacket(STATUS_VELOCITY, i, 0.1f, 0.0f, 0.0f, 2941.0f));
                SendTo(m.dpnidSender, MakeStatusPacket(STATUS_POSITION, i, 0.0f, 2950.0f + i, 0.0f, 99.0f));
                SendTo(m.dpnidSender, MakeStatusPacket(STATUS_ATTITUDE, i, 0.0f, 0.0f, 0.0f, 1.0f));
                SendTo(m.dpnidSender, MakeStatusPacket(STATUS_RATES, i, 0.0f, 0.0f, 0.01f * i, 99.0f));
            }
            SendTo(m.dpnidSender, MakeStatusPacket(STATUS_SETUP_COMPLETE, 0, 0, 0, 0, 0));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        registration_ = p;
        registered_ = true;
        cv_.notify_all();
    }

    Mode mode_;
    IDirectPlay8Server* server_ = nullptr;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool registered_ = false;
    StatusPacket registration_{};
};

std::atomic<int> g_closePosts{0};
std::mutex g_boxMutex;
std::vector<std::string> g_boxes;

class LinkSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetViewState();
        CaptureLog();
        g_closePosts = 0;
        g_boxes.clear();
        UseLoopbackHost();
    }
    void TearDown() override { CloseLink(); }

    // The session's set-up with the window parts recorded instead of shown.
    HRESULT Join()
    {
        return JoinLocalSession([] { ++g_closePosts; },
                                [](const char* text, const char*, UINT) {
                                    std::lock_guard<std::mutex> lock(g_boxMutex);
                                    g_boxes.push_back(text);
                                });
    }

    void Register()
    {
        const StatusPacket p = MakeStatusPacket(STATUS_SHUTDOWN, 0, 1.0f, 142.0f, 1.0f, 1.0f);
        SendPacket(&p, sizeof p, 1, 0);
    }
};

TEST_F(LinkSession, EnumerateConnectRegisterAndReceiveTheInitialState)
{
    StandInHost host(StandInHost::Mode::Grant);
    ASSERT_TRUE(host.Start());
    ASSERT_EQ(Join(), S_OK);
    {
        ScopedSection lock(HostListLock);
        ASSERT_NE(HostList, nullptr);
        ASSERT_NE(HostList->sessionName, nullptr);
        EXPECT_EQ(std::u16string(HostList->sessionName), u"Peer to Peer");
        EXPECT_EQ(HostList->description->guidApplication, PeerApplicationGuid);
        EXPECT_EQ(HostList->description->pwszSessionName, nullptr);
    }
    Register();
    StatusPacket reg;
    ASSERT_TRUE(host.WaitForRegistration(&reg));
    EXPECT_EQ(reg.Type, 7);
    EXPECT_EQ(reg.X, 1.0f);
    EXPECT_EQ(reg.Y, 142.0f);
    EXPECT_EQ(reg.Z, 1.0f);
    EXPECT_EQ(reg.W, 1.0f);

    auto wait = std::async(std::launch::async, [] { return WaitForInitialState(); });
    ASSERT_EQ(wait.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(wait.get());
    EXPECT_EQ(OwnVesselIndex.load(), 2);
    EXPECT_FLOAT_EQ(UniverseHours.load(), 3.0f);
    EXPECT_GE(UniverseSecondsAtSetup.load(), 100.0f);
    EXPECT_LT(UniverseSecondsAtSetup.load(), 101.0f);
    EXPECT_FLOAT_EQ(Vessels[2].Registration, 777.0f);
    EXPECT_EQ(Vessels[5].Present, 1);
    EXPECT_FLOAT_EQ(Vessels[5].Registration, 555.0f);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Vessels[i].Position, D3DXVECTOR3(0.0f, 2950.0f + i, 0.0f)) << i;
        EXPECT_FLOAT_EQ(Vessels[i].Rates.z, 0.01f * i);
    }
    EXPECT_TRUE(g_boxes.empty());

    // The console client goes away: the session's end asks the window to close.
    host.Stop();
    const auto until = Clock::now() + std::chrono::seconds(15);
    while (g_closePosts.load() == 0 && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(g_closePosts.load(), 1);
    EXPECT_EQ(CloseRequested.load(), 1);
}

TEST_F(LinkSession, RefusalEndsTheStartUpWaitWithinASecond)
{
    StandInHost host(StandInHost::Mode::Refuse);
    ASSERT_TRUE(host.Start());
    ASSERT_EQ(Join(), S_OK);
    auto wait = std::async(std::launch::async, [] { return WaitForInitialState(); });
    Register();
    StatusPacket reg;
    ASSERT_TRUE(host.WaitForRegistration(&reg));
    ASSERT_EQ(wait.wait_for(std::chrono::seconds(1)), std::future_status::ready);
    EXPECT_FALSE(wait.get());
    EXPECT_LT(Clock::now() - host.answeredAt, std::chrono::seconds(1));
    EXPECT_EQ(g_closePosts.load(), 1);
    EXPECT_EQ(OwnVesselIndex.load(), VESSEL_NONE);
    EXPECT_EQ(InitialStateComplete.load(), 0);
}

TEST_F(LinkSession, NoConsoleClientFailsToConnect)
{
    const HRESULT hr = Join();
    EXPECT_TRUE(FAILED(hr));
    std::lock_guard<std::mutex> lock(g_boxMutex);
    ASSERT_EQ(g_boxes.size(), 1u);
    // Nobody answered: no host to duplicate (or, after another test, a stale one).
    EXPECT_TRUE(g_boxes[0] == "Failed duplicating host address." || g_boxes[0] == "Failed connecting to the host.")
        << g_boxes[0];
}

TEST_F(LinkSession, FailedSendEndsTheProgramAfterItsBox)
{
    // No session: the send fails.
    std::vector<std::string> shown;
    std::vector<int> exits;
    static std::vector<std::string>* boxes;
    static std::vector<int>* codes;
    boxes = &shown;
    codes = &exits;
    InstallSessionLinkHooks();
    LinkHooks hooks = GetLinkHooks();
    hooks.messageBox = [](const char* text, const char* caption, UINT) {
        boxes->push_back(std::string(caption) + "|" + text);
    };
    hooks.exitProcess = [](int code) { codes->push_back(code); };
    SetLinkHooks(hooks);
    Register();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Communication Error!|Failed sending data on SendPacket, please report this error.");
    EXPECT_EQ(exits, std::vector<int>{0});
}

}  // namespace
