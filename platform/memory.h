// Memory services the clients need from the system.
#pragma once

#include <cstddef>

// Asks the system to back the whole range now, in one step, rather than page
// by page as it is first written: a buffer about to receive megabytes of
// body fills far faster so. Harmless (and does nothing) where the system
// cannot; the range must lie inside memory the caller owns.
void PrepareMemory(void* Start, std::size_t Length);
