#include "platform/mimetypes.h"

// This system's map is the mime.types file alone.
bool FindRegisteredMimeTypeExtension(const std::string&, std::string& Extension) {
  Extension.clear();
  return false;
}
