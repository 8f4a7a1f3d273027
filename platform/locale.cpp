#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>

bool ReadLocaleMonthAbbreviations(std::array<std::string, 12>& Names) {
  const locale_t Locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (Locale == static_cast<locale_t>(nullptr)) return false;
  for (int I = 0; I < 12; ++I) {
    const char* Name = nl_langinfo_l(static_cast<nl_item>(ABMON_1 + I), Locale);
    if (Name != nullptr && *Name != 0) Names[static_cast<std::size_t>(I)] = Name;
  }
  freelocale(Locale);
  return true;
}
