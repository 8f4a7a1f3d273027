// The body of the batch driver: which job file to read, running its jobs in
// order between their start and end lines, the final "ExitCode=" line, and
// how an error that escapes a job ends the run. The program's main() adds
// only the banner lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/tarvoCommon.h"

using TJobFunction = std::function<std::int32_t(const TtarvoParam&)>;

// The job file used when none is named: ProgramPath with the extension of
// its last component replaced by ".ini" (appended when it has none).
std::string DefaultJobFileName(const std::string& ProgramPath);

// When Argument is "-h", "--help" or "--version" and no file of that name
// exists (a job file may be called so), prints the usage line or
// "tarvo " + version to standard output and returns true.
bool AnswerInfoOption(const std::string& Argument);

// Runs the job function of the record's mode and returns its status
// (0 success, 1 remote failure, 2 local failure).
std::int32_t RunJob(const TtarvoParam& Param);

// Loads FileName with LoadJobs and runs every job in file order through Job,
// each between "===== Section: " + name + " Mode: ..." and its mode's end
// line; a failed job does not stop the ones after it. Then logs "ExitCode="
// + the last status (the loader's 2 when the file is missing, 0 when it has
// no job, logged as "Info : no job in " + full path) and returns it. Keys
// the loader did not know are named at the start of their job; a job whose
// Mode is none of the five is not run and logs "Unknown Mode " + value +
// ", job not run." with status 2. An exception escaping the loader or a job
// ends the run at once: its message becomes one error line, no "ExitCode="
// line follows, and the result is 3.
int RunBatch(const std::string& FileName, const TJobFunction& Job = RunJob);
