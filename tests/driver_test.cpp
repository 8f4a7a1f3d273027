// The batch driver: run as a process for the banner, the job file name and
// the exit codes; run in-process with substitute jobs for the results of
// several jobs and for an error that escapes a job.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "app/tarvoBatch.h"
#include "support/capturestdout.h"
#include "support/testsupport.h"

using namespace testsupport;

namespace {

const char* const NoticeLine = "tarvo " TARVO_VERSION " - unattended batch file transfer (FTP, HTTP)";
const char* const UsageLine = "useage:tarvo [Ini file name(default:tarvo.ini)]";

bool Contains(const std::vector<std::string>& Lines, const std::string& Wanted) {
  for (const auto& Line : Lines)
    if (Line == Wanted) return true;
  return false;
}

}  // namespace

TEST(Driver, MissingJobFileLogsErrorAndExitsTwo) {
  TempDir Dir;
  const RunResult Run = RunTarvo({"absent.ini"}, Dir.Path());
  EXPECT_EQ(Run.ExitCode, 2);
  const auto Lines = StripStamps(Run.Output);
  ASSERT_EQ(Lines.size(), 4u);
  EXPECT_EQ(Lines[0], NoticeLine);
  EXPECT_EQ(Lines[1], UsageLine);
  EXPECT_EQ(Lines[2], "ERROR: Not Found INI file. " + Dir.Path() + "/absent.ini");
  EXPECT_EQ(Lines[3], "ExitCode=2");
}

TEST(Driver, JobFileNameIsMadeAbsoluteAndADirectoryIsUnreadable) {
  TempDir Dir;
  std::filesystem::create_directory(Dir / "sub");
  const auto Relative = StripStamps(RunTarvo({"./sub/../absent.ini"}, Dir.Path()).Output);
  ASSERT_EQ(Relative.size(), 4u);
  EXPECT_EQ(Relative[2], "ERROR: Not Found INI file. " + Dir.Path() + "/absent.ini");

  const RunResult OnDirectory = RunTarvo({"sub"}, Dir.Path());
  EXPECT_EQ(OnDirectory.ExitCode, 2);
  EXPECT_TRUE(Contains(StripStamps(OnDirectory.Output), "ERROR: Cannot read INI file. " + Dir / "sub" + " (Is a directory)"));
}

TEST(Driver, UnreadableJobFileIsALocalFailureNotAnEmptyRun) {
  // Reading a process's own memory at offset 0 fails with EIO, even as root.
  const RunResult Run = RunTarvo({"/proc/self/mem"});
  EXPECT_EQ(Run.ExitCode, 2);
  const auto Lines = StripStamps(Run.Output);
  ASSERT_EQ(Lines.size(), 4u);
  EXPECT_EQ(Lines[2].rfind("ERROR: Cannot read INI file. /proc/self/mem (", 0), 0u) << Lines[2];
  EXPECT_EQ(Lines[3], "ExitCode=2");
}

TEST(Driver, JobFileWithoutSectionsRunsNothingAndExitsZero) {
  TempDir Dir;
  WriteFile(Dir / "empty.ini", "; nothing to do\nMode=FTPGET\n");
  const RunResult Run = RunTarvo({"empty.ini", "ignored-extra-argument"}, Dir.Path());
  EXPECT_EQ(Run.ExitCode, 0);
  const auto Lines = StripStamps(Run.Output);
  ASSERT_EQ(Lines.size(), 4u);
  EXPECT_EQ(Lines[0], NoticeLine);
  EXPECT_EQ(Lines[1], UsageLine);
  EXPECT_EQ(Lines[2], "Info : no job in " + Dir / "empty.ini");
  EXPECT_EQ(Lines[3], "ExitCode=0");
}

TEST(Driver, HelpAndVersionAnswerUnlessAJobFileHasTheirName) {
  TempDir Dir;
  EXPECT_EQ(RunTarvo({"--version"}, Dir.Path()).Output, "tarvo " TARVO_VERSION "\n");
  EXPECT_EQ(RunTarvo({"-h"}, Dir.Path()).Output, std::string(UsageLine) + "\n");
  WriteFile(Dir / "--help", "");
  EXPECT_EQ(StripStamps(RunTarvo({"--help"}, Dir.Path()).Output).back(), "ExitCode=0");
}

TEST(Driver, EveryJobRunsBetweenItsStartAndEndLineInFileOrder) {
  TempDir Dir;
  // Every job points at a closed loopback port, so it fails fast once the
  // real clients are in place.
  const std::string Port = std::to_string(FreePort());
  const std::string Ftp = "Target=127.0.0.1\nTargetPort=" + Port + "\nTimeout=2000\n";
  const std::string Http = "Target=http://127.0.0.1:" + Port + "/\nTimeout=2000\n";
  std::filesystem::create_directory(Dir / "out");
  WriteFile(Dir / "jobs.ini", "[daily]\nMode=FTPGET\nLocalPath=./missing-dir/\n" + Ftp +
                                  "[typo]\nMode=FTPGETT\nLocalPath=./out/\n" + Ftp +
                                  "[put]\nMode=ftpput\nLocalPath=./out/*.*\n" + Ftp +
                                  "[web]\nMode=HttpGet\nLocalPath=./out/\n" + Http +
                                  "[upload]\nMode=HTTPPUT\nLocalPath=./out/*.*\n" + Http +
                                  "[form]\nMode=HTTPPOSTFILE\nLocalPath=./out/*.*\n" + Http);
  const RunResult Run = RunTarvo({"jobs.ini"}, Dir.Path());
  std::vector<std::string> Frame;
  for (const auto& Line : StripStamps(Run.Output))
    if (Line.rfind("=====", 0) == 0 || Line.rfind("ExitCode=", 0) == 0) Frame.push_back(Line);
  const std::vector<std::string> Expected = {
      "===== Section: daily Mode: FTP GET",  "===== FTP GET END",
      "===== Section: typo Mode: FTPGETT",   "===== FTPGETT END",
      "===== Section: put Mode: FTP PUT",    "===== FTP PUT END",
      "===== Section: web Mode: HTTP GET",   "===== HTTP GET END",
      "===== Section: upload Mode: HTTP PUT", "===== HTTP PUT END",
      "===== Section: form Mode: HTTP POSTFILE", "===== HTTP POSTFILE END",
      "ExitCode=" + std::to_string(Run.ExitCode),
  };
  EXPECT_EQ(Frame, Expected);
  EXPECT_TRUE(Run.ExitCode == 0 || Run.ExitCode == 1 || Run.ExitCode == 2) << Run.ExitCode;
  EXPECT_EQ(StripStamps(Run.Output)[1], UsageLine);
}

TEST(Driver, WithoutArgumentTheJobFileSitsBesideTheProgram) {
  TempDir ProgramDir, WorkDir;
  for (const std::string Name : {"x", "x.bin"}) {
    std::filesystem::copy_file(TARVO_EXE, ProgramDir / Name);
    chmod((ProgramDir / Name).c_str(), 0755);
  }
  WriteFile(WorkDir / "x.ini", "[decoy]\n");

  const RunResult Plain = RunProcess({ProgramDir / "x"}, WorkDir.Path());
  EXPECT_EQ(Plain.ExitCode, 2);
  EXPECT_TRUE(Contains(StripStamps(Plain.Output), "ERROR: Not Found INI file. " + ProgramDir / "x.ini"));

  WriteFile(ProgramDir / "x.ini", "");
  const RunResult WithExtension = RunProcess({ProgramDir / "x.bin"}, WorkDir.Path());
  EXPECT_EQ(WithExtension.ExitCode, 0);
  const auto Lines = StripStamps(WithExtension.Output);
  ASSERT_EQ(Lines.size(), 4u);
  EXPECT_EQ(Lines[0], NoticeLine);
  EXPECT_EQ(Lines[3], "ExitCode=0");
}

TEST(Driver, DefaultJobFileNameReplacesOnlyTheLastExtension) {
  EXPECT_EQ(DefaultJobFileName("/opt/tarvo/bin/tarvo"), "/opt/tarvo/bin/tarvo.ini");
  EXPECT_EQ(DefaultJobFileName("/opt/tarvo/bin/tarvo.exe"), "/opt/tarvo/bin/tarvo.ini");
  EXPECT_EQ(DefaultJobFileName("/opt/tarvo.d/tarvo"), "/opt/tarvo.d/tarvo.ini");
  EXPECT_EQ(DefaultJobFileName("/opt/a.b.c"), "/opt/a.b.ini");
  EXPECT_EQ(DefaultJobFileName("/opt/.tarvo"), "/opt/.tarvo.ini");
  EXPECT_EQ(DefaultJobFileName("tarvo"), "tarvo.ini");
}

namespace {

// Runs RunBatch in-process on a job file whose section names are the
// statuses the substitute job returns ("throw" raises instead).
struct TBatchRun {
  int Result = -1;
  std::vector<std::string> Lines;
  std::vector<std::string> Ran;
};

TBatchRun RunText(const std::string& Text) {
  TempDir Dir;
  WriteFile(Dir / "jobs.ini", Text);
  TBatchRun Run;
  CapturedStdout Captured;
  Run.Result = RunBatch(Dir / "jobs.ini", [&](const TtarvoParam& Job) -> std::int32_t {
    Run.Ran.push_back(Job.SectionName);
    if (Job.SectionName == "throw") throw std::runtime_error("Cannot create file /in/a.tmp");
    return std::stoi(Job.SectionName);
  });
  Run.Lines = StripStamps(Captured.Text());
  return Run;
}

TBatchRun RunSections(const std::vector<std::string>& Sections) {
  std::string Text;
  for (const auto& Name : Sections) Text += "[" + Name + "]\nMode=HTTPPUT\n";
  return RunText(Text);
}

}  // namespace

TEST(Batch, TheExitCodeIsTheLastJobsStatusAlone) {
  const TBatchRun Recovered = RunSections({"2", "0", "0"});
  EXPECT_EQ(Recovered.Result, 0);
  EXPECT_EQ(Recovered.Lines.back(), "ExitCode=0");

  const TBatchRun FailedLast = RunSections({"0", "0", "1"});
  EXPECT_EQ(FailedLast.Result, 1);
  EXPECT_EQ(FailedLast.Lines.back(), "ExitCode=1");
  EXPECT_EQ(FailedLast.Ran, (std::vector<std::string>{"0", "0", "1"}));
}

TEST(Batch, AMisspeltModeRunsNothingAndUnknownKeysAreNamed) {
  const TBatchRun Run = RunText("[0]\nMode=HTTPGET\nRemotePaht=/x\n[2]\nMode=FTPPUTT\nDeleteMode=True\n");
  EXPECT_EQ(Run.Ran, std::vector<std::string>{"0"});
  EXPECT_EQ(Run.Lines, (std::vector<std::string>{
                           "===== Section: 0 Mode: HTTP GET", "Info : unknown key RemotePaht ignored.", "===== HTTP GET END",
                           "===== Section: 2 Mode: FTPPUTT", "ERROR: Unknown Mode FTPPUTT, job not run.",
                           "===== FTPPUTT END", "ExitCode=2"}));
}

TEST(Batch, AnErrorEscapingAJobEndsTheRunWithoutExitCodeLine) {
  const TBatchRun Run = RunSections({"1", "throw", "0"});
  EXPECT_EQ(Run.Result, 3);
  EXPECT_EQ(Run.Ran, (std::vector<std::string>{"1", "throw"}));
  const std::vector<std::string> Expected = {
      "===== Section: 1 Mode: HTTP PUT",
      "===== HTTP PUT END",
      "===== Section: throw Mode: HTTP PUT",
      "ERROR: Cannot create file /in/a.tmp",
  };
  EXPECT_EQ(Run.Lines, Expected);
}
