// A log line of a handler thread while the log is closed at shut-down.
#include "../view/view_test_support.h"
#include "platform/sys/crt.h"
#include "view/log_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_inWrite{false};
std::atomic<bool> g_release{false};

// Holds the first writer between taking the descriptor and writing, for at most
// half a second.
void HoldWriter()
{
    g_inWrite = true;
    for (int i = 0; i < 500 && !g_release.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(LogShutdown, NoLineReachesADescriptorHandedOutAfterTheClose)
{
    const std::string folder = viewtest::ScratchFolder();
    ASSERT_GE(OpenLogFile((folder + "/logfile.txt").c_str()), 0);
    SetLogWriteHook(HoldWriter);
    std::thread writer([] { WriteLogText("Initial setup of 0 sent\n"); });
    while (!g_inWrite.load()) std::this_thread::yield();
    SetLogWriteHook(nullptr);

    // Shut-down closes the log; the next file opened most likely gets its number.
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        CloseLogFile();
        const int fd = crt::Open((folder + "/other").c_str(), crt::O_WRONLY_ | crt::O_CREAT_ | crt::O_BINARY_, 0644);
        closed = true;
        while (!g_release.load()) std::this_thread::yield();
        crt::Close(fd);
    });
    for (int i = 0; i < 300 && !closed.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    g_release = true;
    writer.join();
    closer.join();

    EXPECT_EQ(viewtest::ReadFile(folder + "/other"), "");
    EXPECT_EQ(viewtest::ReadFile(folder + "/logfile.txt"), "Initial setup of 0 sent\r\n");
}

}  // namespace
