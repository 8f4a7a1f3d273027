// Date-time values as "yyyy-mm-dd hh:mm:ss" text, so that test failures
// show readable dates instead of day counts.
#pragma once

#include <string>

std::string FormatDateTime(double Value);
