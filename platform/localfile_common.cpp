// The parts of TLocalFileWriter that are the same on every system.
#include "platform/localfile.h"

void TLocalFileWriter::Keep() {
  CloseQuietly();
  Created_ = false;
}

bool WriteLocalFile(const std::string& FinalName, const std::string& Data, std::string& Reason) {
  TLocalFileWriter File;
  if (!File.Create(FinalName, Reason)) return false;
  const auto Size = static_cast<std::int64_t>(Data.size());
  if (File.Write(Data.data(), Size) != Size) {
    Reason = File.LastReason();
    return false;
  }
  return File.Commit(Reason);
}
