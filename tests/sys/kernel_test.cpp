#include "platform/sys/critical_section.h"
#include "platform/sys/debug_output.h"
#include "platform/sys/hresult.h"
#include "platform/sys/timing.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(ResultCodeTest, FailuresAreNegative32BitValues)
{
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_TRUE(FAILED(E_INVALIDARG));
    EXPECT_TRUE(FAILED(E_OUTOFMEMORY));
    EXPECT_TRUE(SUCCEEDED(S_OK));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_EQ(static_cast<std::uint32_t>(E_FAIL), 0x80004005u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_INVALIDARG), 0x80070057u);
}

TEST(CriticalSectionTest, ReEntrantForTheOwnerExclusiveForOthers)
{
    CriticalSectionLock lock;
    lock.Enter();
    lock.Enter();  // the owner may enter again
    bool otherGotIn = true;
    std::thread([&] { otherGotIn = lock.TryEnter(); if (otherGotIn) lock.Leave(); }).join();
    EXPECT_FALSE(otherGotIn);
    lock.Leave();
    std::thread([&] { otherGotIn = lock.TryEnter(); if (otherGotIn) lock.Leave(); }).join();
    EXPECT_FALSE(otherGotIn);  // still held once
    lock.Leave();
    std::thread([&] { otherGotIn = lock.TryEnter(); if (otherGotIn) lock.Leave(); }).join();
    EXPECT_TRUE(otherGotIn);
    {
        ScopedSection s(lock);
        EXPECT_TRUE(lock.TryEnter());
        lock.Leave();
    }
}

TEST(DebugOutputTest, SilentByDefaultAndStderrWhenAsked)
{
    EnableDebugOutput(false);
    ::testing::internal::CaptureStderr();
    OutputDebugStringA("hidden\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EnableDebugOutput(true);
    ::testing::internal::CaptureStderr();
    OutputDebugStringA("shown\n");
    OutputDebugStringA(nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "shown\n");
    EnableDebugOutput(false);
}

TEST(TimingTest, CountersMoveForwardTogether)
{
    std::int64_t freq = 0, a = 0, b = 0;
    ASSERT_TRUE(QueryPerformanceFrequency(&freq));
    EXPECT_GT(freq, 0);
    ASSERT_TRUE(QueryPerformanceCounter(&a));
    std::uint32_t msA = timeGetTime();
    Sleep(20);
    ASSERT_TRUE(QueryPerformanceCounter(&b));
    std::uint32_t msB = timeGetTime();
    double seconds = static_cast<double>(b - a) / static_cast<double>(freq);
    EXPECT_GE(seconds, 0.019);
    EXPECT_LT(seconds, 2.0);
    EXPECT_GE(msB - msA, 19u);
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

TEST(TimingTest, X87PrecisionIsSetWhereThereIsAnX87)
{
    SetX87Precision64();
#if defined(__i386__) || defined(__x86_64__)
    EXPECT_EQ(GetX87PrecisionControl(), 3u);
#else
    EXPECT_EQ(GetX87PrecisionControl(), 0u);
#endif
}

}  // namespace
