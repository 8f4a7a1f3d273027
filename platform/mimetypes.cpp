#include "platform/mimetypes.h"

#include <fstream>
#include <sstream>

namespace {

bool SameIgnoringAsciiCase(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  for (std::size_t I = 0; I < A.size(); ++I) {
    const unsigned char X = static_cast<unsigned char>(A[I]);
    const unsigned char Y = static_cast<unsigned char>(B[I]);
    const auto Lower = [](unsigned char C) { return C >= 'A' && C <= 'Z' ? C + ('a' - 'A') : C; };
    if (Lower(X) != Lower(Y)) return false;
  }
  return true;
}

// An extension ends up in a local file name, so it may not leave the
// directory or carry control characters, whatever the map says.
bool IsSafeExtension(const std::string& Extension) {
  for (const char C : Extension)
    if (C == '/' || C == '\\' || static_cast<unsigned char>(C) < 0x20 || C == 0x7F) return false;
  return true;
}

}  // namespace

bool FindMimeTypeExtension(const std::string& MimeType, std::string& Extension, const std::string& MapFile) {
  Extension.clear();
  if (MimeType.empty()) return false;
  if (MapFile.empty()) {
    if (!FindRegisteredMimeTypeExtension(MimeType, Extension)) return false;
    if (!IsSafeExtension(Extension)) Extension.clear();
    return true;
  }
  std::ifstream Map(MapFile);
  std::string Line;
  while (std::getline(Map, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (Line.empty() || Line.front() == '#') continue;
    std::istringstream Fields(Line);
    std::string Type;
    if (!(Fields >> Type) || !SameIgnoringAsciiCase(Type, MimeType)) continue;
    std::string First;
    if (Fields >> First && First.front() != '#' && IsSafeExtension(First)) Extension = "." + First;
    return true;
  }
  return false;
}
