#include "support/datetimeformat.h"

#include <cstdio>

#include "platform/systime.h"

std::string FormatDateTime(double Value) {
  int year, month, day, hour, minute, second, millisecond;
  DecodeDate(Value, year, month, day);
  DecodeTime(Value, hour, minute, second, millisecond);
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return text;
}
