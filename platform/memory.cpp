#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

void PrepareMemory(void* Start, std::size_t Length) {
#ifdef MADV_POPULATE_WRITE
  static const std::uintptr_t PageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  // Only whole pages inside the range: the partial ones at its ends may be
  // shared with other objects.
  const auto First = (reinterpret_cast<std::uintptr_t>(Start) + PageSize - 1) & ~(PageSize - 1);
  const auto Last = (reinterpret_cast<std::uintptr_t>(Start) + Length) & ~(PageSize - 1);
  if (Last <= First) return;
  ::madvise(reinterpret_cast<void*>(First), Last - First, MADV_POPULATE_WRITE);
#else
  (void)Start;
  (void)Length;
#endif
}
