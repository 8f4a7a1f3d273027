// The FTP listing parser on a listing as a server sends it, then what the
// FTP GET job does with each entry: the directory and mask tests, the
// unsafe-name guard, the log stamp and the local file date.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/tarvoCommon.h"
#include "jobs/tarvoFtpGet.h"
#include "protocols/ftplist.h"
#include "util/masks.h"

namespace {

std::string DatedFile;

// The scratch folder goes when the fuzzer exits.
void RemoveScratch() {
  ::unlink(DatedFile.c_str());
  ::rmdir(DatedFile.substr(0, DatedFile.rfind('/')).c_str());
}

// Lines end at CR LF, lone CR or lone LF, as the FTP client splits them.
void SplitLines(const std::string& Text, TStringList& Lines) {
  std::size_t Start = 0;
  for (std::size_t At = 0; At < Text.size(); ++At) {
    if (Text[At] != '\r' && Text[At] != '\n') continue;
    Lines.push_back(Text.substr(Start, At - Start));
    if (Text[At] == '\r' && At + 1 < Text.size() && Text[At + 1] == '\n') ++At;
    Start = At + 1;
  }
  if (Start < Text.size()) Lines.push_back(Text.substr(Start));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char Folder[] = "/tmp/tarvo-fuzz-ftplist.XXXXXX";
  if (::mkdtemp(Folder) == nullptr) std::abort();
  DatedFile = std::string(Folder) + "/dated";
  std::atexit(RemoveScratch);
  ::close(::open(DatedFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  TFTPList List;
  SplitLines(Text.substr(0, Text.find('\0')), List.RawLines);
  List.ParseListing();
  if (List.Entries.size() + List.RejectedLines.size() > List.RawLines.size()) std::abort();

  const TMask Mask("*.[ct]xt");
  for (int Index = 0; Index < List.Count(); ++Index) {
    const TFTPListRec& Entry = *List.EntryAt(Index);
    if (Entry.Name.empty() || Entry.Size < 0) std::abort();
    if (Entry.IsDir) continue;
    Mask.IsMatch(Entry.Name);
    if (!IsSafeLocalFileName(Entry.Name)) continue;
    if (FormatLogStamp(Entry.ModifiedTime).empty()) std::abort();
    SetLocalFileDate(DatedFile, Entry.ModifiedTime);
  }
  return 0;
}
