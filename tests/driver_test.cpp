// The batch driver run as a process: banner, job file name, exit codes.
#include <gtest/gtest.h>

#include "support/testsupport.h"

using namespace testsupport;

TEST(Driver, MissingJobFileLogsErrorAndExitsTwo) {
  TempDir Dir;
  const RunResult Run = RunTarvo({"absent.ini"}, Dir.Path());
  EXPECT_EQ(Run.ExitCode, 2);
  const auto Lines = StripStamps(Run.Output);
  ASSERT_EQ(Lines.size(), 4u);
  EXPECT_EQ(Lines[1], "useage:tarvo [Ini file name(default:tarvo.ini)]");
  EXPECT_EQ(Lines[2], "ERROR: Not Found INI file. " + Dir.Path() + "/absent.ini");
  EXPECT_EQ(Lines[3], "ExitCode=2");
}
