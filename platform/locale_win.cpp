#include "platform/locale.h"

#include "platform/widetext_win.h"

bool ReadLocaleMonthAbbreviations(std::array<std::string, 12>& Names) {
  std::array<std::string, 12> Read = Names;
  for (int I = 0; I < 12; ++I) {
    wchar_t Name[80];
    const int Length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + I),
                                       Name, static_cast<int>(sizeof(Name) / sizeof(Name[0])));
    if (Length <= 0) return false;
    // The length counts the terminating zero.
    if (Length > 1) Read[static_cast<std::size_t>(I)] = Utf8FromWide(Name, Length - 1);
  }
  Names = Read;
  return true;
}
