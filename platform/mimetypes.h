// The MIME type to file extension map of this system: the mime.types file
// ("type ext1 ext2 ..." per line, "#" starts a comment), which plays the
// part of the registry's MIME database for naming downloaded files.
#pragma once

#include <string>

#ifdef _WIN32
// Windows keeps its map in the registry: the empty name stands for it.
inline constexpr const char* SystemMimeTypesFile = "";
#else
// Where the system keeps its map (Debian package media-types).
inline constexpr const char* SystemMimeTypesFile = "/etc/mime.types";
#endif

// Looks MimeType up in MapFile, ignoring ASCII case. True when the type is
// listed: Extension is then "." + the first extension of its line, or empty
// when the line names none. False when the type is empty or not listed, or
// when the file cannot be read. The first line naming the type counts. An
// empty MapFile asks FindRegisteredMimeTypeExtension instead.
bool FindMimeTypeExtension(const std::string& MimeType, std::string& Extension,
                           const std::string& MapFile = SystemMimeTypesFile);

// The system's own map where it is not a file (the registry's MIME
// database on Windows): Extension as the map gives it, dot included. False
// when the type is not listed or the system has no such map.
bool FindRegisteredMimeTypeExtension(const std::string& MimeType, std::string& Extension);
