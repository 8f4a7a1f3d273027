// Starting the programs a benchmark compares, their output discarded.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts Argv in WorkDir (the current directory when empty) with standard
// input, output and error on /dev/null; the child's process id.
pid_t SpawnQuiet(const std::vector<std::string>& Argv, const std::string& WorkDir = "");
