// The job file: the profile reader on the text itself, then LoadJobs on the
// same bytes as a file, as a run reads it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/tarvoCommon.h"
#include "platform/profile.h"

namespace {

std::string JobFile;

// The scratch folder goes when the fuzzer exits.
void RemoveScratch() {
  ::unlink(JobFile.c_str());
  ::rmdir(JobFile.substr(0, JobFile.rfind('/')).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // LoadJobs may log; the log is stdout, the fuzzer's own report stderr.
  const int Null = ::open("/dev/null", O_WRONLY);
  ::dup2(Null, STDOUT_FILENO);
  char Folder[] = "/tmp/tarvo-fuzz-jobfile.XXXXXX";
  if (::mkdtemp(Folder) == nullptr) std::abort();
  JobFile = std::string(Folder) + "/jobs.ini";
  std::atexit(RemoveScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  TProfile Profile;
  Profile.LoadFromText(Text);
  for (std::size_t Section = 0; Section < Profile.SectionCount(); ++Section) {
    const std::string Value = Profile.ReadString(Section, Profile.SectionName(Section), "");
    if (Value.size() > ProfileValueLimit) std::abort();
  }

  const int File = ::open(JobFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (File < 0 || ::write(File, Data, Size) != static_cast<ssize_t>(Size)) std::abort();
  ::close(File);
  TArrayOftarvoParam Jobs;
  if (LoadJobs(JobFile, Jobs) != 0 || Jobs.size() != Profile.SectionCount()) std::abort();
  return 0;
}
