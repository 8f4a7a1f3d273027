// The console log's output.
#pragma once

#include <string>

// Writes Line (its line end included) to standard output as bytes, in one
// write, after whatever stdio still holds: a log piped to a file stays
// whole line by line even if the run is killed.
void WriteConsoleLine(const std::string& Line);
