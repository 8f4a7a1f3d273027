// Process-level services: the program's own path and signal set-up.
#pragma once

#include <string>

// Full path of the running executable, or "tarvo" when it cannot be read.
std::string ExecutablePath();

// Keeps a write to a closed connection from ending the process.
void IgnoreBrokenPipes();
