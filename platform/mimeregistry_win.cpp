#include "platform/mimetypes.h"

#include "platform/widetext_win.h"

bool FindRegisteredMimeTypeExtension(const std::string& MimeType, std::string& Extension) {
  Extension.clear();
  // A "\" in the type would reach another key of the database.
  if (MimeType.find('\\') != std::string::npos) return false;
  const std::wstring Key = L"MIME\\Database\\Content Type\\" + WideFromUtf8(MimeType);
  wchar_t Value[256];
  DWORD Size = sizeof(Value);
  // Key names are compared without regard to case, as the types are.
  if (RegGetValueW(HKEY_CLASSES_ROOT, Key.c_str(), L"Extension", RRF_RT_REG_SZ, nullptr, Value, &Size) !=
      ERROR_SUCCESS)
    return false;
  Extension = Utf8FromWide(Value);
  return true;
}
