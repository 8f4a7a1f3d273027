#include "platform/memory.h"

// Windows backs committed pages on first touch and has no one-call way to
// populate a range for writing; the buffer fills as it would anyway.
void PrepareMemory(void* Start, std::size_t Length) {
  (void)Start;
  (void)Length;
}
