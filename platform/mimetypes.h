// The MIME type to file extension map of this system: the mime.types file
// ("type ext1 ext2 ..." per line, "#" starts a comment), which plays the
// part of the registry's MIME database for naming downloaded files.
#pragma once

#include <string>

// Where the system keeps its map (Debian package media-types).
inline constexpr const char* SystemMimeTypesFile = "/etc/mime.types";

// Looks MimeType up in MapFile, ignoring ASCII case. True when the type is
// listed: Extension is then "." + the first extension of its line, or empty
// when the line names none. False when the type is empty or not listed, or
// when the file cannot be read. The first line naming the type counts.
bool FindMimeTypeExtension(const std::string& MimeType, std::string& Extension,
                           const std::string& MapFile = SystemMimeTypesFile);
