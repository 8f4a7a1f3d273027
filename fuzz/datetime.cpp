// Date decoding as HTTP headers and FTP listings reach it: the HTTP date
// decoder, the time-of-day reader, month names and zone names.
#include <cmath>
#include <cstdlib>
#include <string>

#include "util/datetime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  try {
    const double Value = DecodeHttpDate(Text);
    if (std::isnan(Value)) std::abort();
  } catch (const EConvertError&) {
  }
  const double Time = DecodeTimeOfDay(Text);
  if (Time != -1 && !(Time >= 0 && Time < 1)) std::abort();
  const int Month = MonthFromName(Text);
  if (Month < 0 || Month > 12) std::abort();
  int Offset = 0;
  ZoneOffsetFromName(Text, Offset);
  return 0;
}
