// Starting the programs a benchmark compares, their output discarded.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts Argv in WorkDir (the current directory when empty) with standard
// input, output and error on /dev/null; the child's process id.
pid_t SpawnQuiet(const std::vector<std::string>& Argv, const std::string& WorkDir = "");

// As SpawnQuiet, for a server: in a process group of its own, whose id is
// the one returned, so that kill(-id) stops whatever the server started.
pid_t SpawnServer(const std::vector<std::string>& Argv);
