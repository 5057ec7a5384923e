#include "view_test_support.h"

#include "view/log_file.h"

#include <gtest/gtest.h>

#include <string>

using namespace viewtest;

namespace {

TEST(LogFile, OpenTruncatesAndLinesEndInCarriageReturnLineFeed)
{
    const std::string path = ScratchFolder() + "/logfile.txt";
    WriteBytes(path, std::vector<std::uint8_t>(500, 'x'));
    ASSERT_GE(OpenLogFile(path.c_str()), 0);
    EXPECT_EQ(LogDescriptor.load(), OpenLogFile(path.c_str()));  // reopening replaces the descriptor
    WriteLog("Offset: %f\n", 0.5f);
    WriteLogText("Reading \"Panorel.cfg\" file...\n");
    WriteLog("%s", "two\nlines\n");
    CloseLogFile();
    EXPECT_EQ(ReadFile(path), "Offset: 0.500000\r\nReading \"Panorel.cfg\" file...\r\ntwo\r\nlines\r\n");

    // Closed: lines are dropped without complaint.
    EXPECT_EQ(LogDescriptor.load(), -1);
    WriteLog("late %i\n", 1);
    WriteLogText("late\n");
    EXPECT_EQ(ReadFile(path), "Offset: 0.500000\r\nReading \"Panorel.cfg\" file...\r\ntwo\r\nlines\r\n");
}

TEST(LogFile, UnopenableLogIsNoFailure)
{
    const std::string path = ScratchFolder() + "/missing/logfile.txt";
    EXPECT_EQ(OpenLogFile(path.c_str()), -1);
    EXPECT_EQ(LogDescriptor.load(), -1);
    WriteLog("Could not open \"Panorel.cfg\" file, using defaults...\n");
    WriteLogText(nullptr);
    EXPECT_EQ(ReadFile(path), "");
}

TEST(LogFile, OverlongLineIsCutNotOverrun)
{
    const std::string path = ScratchFolder() + "/logfile.txt";
    ASSERT_GE(OpenLogFile(path.c_str()), 0);
    const std::string longText(5000, 'a');
    WriteLog("%s\n", longText.c_str());
    CloseLogFile();
    const std::string text = ReadFile(path);
    EXPECT_GT(text.size(), 500u);
    EXPECT_LT(text.size(), longText.size());
    EXPECT_EQ(text.find_first_not_of('a'), std::string::npos);
}

}  // namespace
