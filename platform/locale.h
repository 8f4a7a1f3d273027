// What the user's locale says about dates: the abbreviated month names
// that listings and dates written for that user carry.
#pragma once

#include <array>
#include <string>

// Replaces each of Names (January first) with the locale's abbreviation
// where it has one. False, Names untouched, when the locale is unknown.
bool ReadLocaleMonthAbbreviations(std::array<std::string, 12>& Names);
