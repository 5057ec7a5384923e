#pragma once
// The view's session link set up and closed as the program does, for the tests that
// run it against a host on the loopback interface.
#include "view/link.h"
#include "view/link_session.h"
#include "view/log_file.h"
#include "view/state.h"

#include <gtest/gtest.h>

#include <cstring>

namespace viewtest {

// Points the link at this machine, where the tests' hosts run.
inline void UseLoopbackHost() { std::memcpy(HostAddress, u"127.0.0.1", sizeof(u"127.0.0.1")); }

// The link's set-up as the start-up runs it, with these window parts in place of the
// window's; a call to end the program fails the test.
inline HRESULT JoinLocalSession(void (*postClose)(), void (*messageBox)(const char* text, const char* caption, UINT))
{
    HRESULT hr = InitDirectPlay();
    LinkHooks hooks = GetLinkHooks();
    hooks.postClose = postClose;
    hooks.messageBox = messageBox;
    hooks.exitProcess = [](int) { ADD_FAILURE() << "the program would end"; };
    SetLinkHooks(hooks);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = CreateDeviceAddress())) return hr;
    if (FAILED(hr = EnumDirectPlayHosts())) return hr;
    return ConnectToSession();
}

// Closes the link's session object, if there is one, and the log.
inline void CloseLink()
{
    if (DirectPlayClient != nullptr) {
        DirectPlayClient->Close(0);
        DirectPlayClient->Release();
        DirectPlayClient = nullptr;
    }
    CloseLogFile();
}

}  // namespace viewtest
