// Parses a 200,000-line Unix listing and a 200,000-line listing of mixed
// styles, and matches 1,000,000 listed names against a few masks; prints
// lines and names per second with the processor time used. The listings are
// built before timing. No peer parses these formats as a library, so the
// figures stand alone (bench_masks compares the masks with fnmatch).
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "protocols/ftplist.h"
#include "util/masks.h"

namespace {

constexpr int kLineCount = 200000;
constexpr int kNameCount = 1000000;

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string UnixLine(std::mt19937& random, int i) {
  char line[160];
  const int month = static_cast<int>(random() % 12);
  const int day = 1 + static_cast<int>(random() % 28);
  if (random() % 2 == 0) {
    std::snprintf(line, sizeof(line), "-rw-r--r--   1 owner    group    %10u %s %2d  %4d file_%06d.dat",
                  static_cast<unsigned>(random() % 100000000), kMonths[month], day,
                  1995 + static_cast<int>(random() % 30), i);
  } else {
    std::snprintf(line, sizeof(line), "drwxr-xr-x   2 owner    group    %10u %s %2d %02d:%02d dir_%06d",
                  static_cast<unsigned>(random() % 100000), kMonths[month], day, static_cast<int>(random() % 24),
                  static_cast<int>(random() % 60), i);
  }
  return line;
}

std::string OtherLine(std::mt19937& random, int i) {
  char line[160];
  switch (random() % 4) {
    case 0:
      std::snprintf(line, sizeof(line), "%02d-%02d-%02d  %02d:%02d%s %20u report_%06d.txt",
                    1 + static_cast<int>(random() % 12), 1 + static_cast<int>(random() % 28),
                    static_cast<int>(random() % 100), 1 + static_cast<int>(random() % 12),
                    static_cast<int>(random() % 60), random() % 2 ? "AM" : "PM",
                    static_cast<unsigned>(random() % 1000000), i);
      break;
    case 1:
      std::snprintf(line, sizeof(line), "%02d-%02d-%04d  %02d:%02d%s       <DIR>          folder_%06d",
                    1 + static_cast<int>(random() % 12), 1 + static_cast<int>(random() % 28),
                    1990 + static_cast<int>(random() % 30), 1 + static_cast<int>(random() % 12),
                    static_cast<int>(random() % 60), random() % 2 ? "AM" : "PM", i);
      break;
    case 2:
      std::snprintf(line, sizeof(line), "FILE_%06d.TXT;1  %u/%u  %02d-%s-%04d %02d:%02d:%02d  [GROUP,OWNER]  (RWED,RWED,,)",
                    i, static_cast<unsigned>(random() % 500), 500u, 10 + static_cast<int>(random() % 18),
                    kMonths[random() % 12], 1990 + static_cast<int>(random() % 30),
                    static_cast<int>(random() % 24), static_cast<int>(random() % 60),
                    static_cast<int>(random() % 60));
      break;
    default:
      std::snprintf(line, sizeof(line), "+i%d,m%u,r,s%u,\tplain_%06d", i,
                    static_cast<unsigned>(random() % 1600000000), static_cast<unsigned>(random() % 1000000), i);
      break;
  }
  return line;
}

struct Timing {
  double wall;
  double cpu;
};

template <typename Work>
Timing Measure(Work work) {
  const auto wallStart = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  work();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count(),
          static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC};
}

void ReportListing(const char* title, const TStringList& lines) {
  TFTPList list;
  list.RawLines = lines;
  const Timing timing = Measure([&] { list.ParseListing(); });
  std::printf("%-14s %8zu lines  %6d entries  %6zu rejected  %12.0f lines/s  cpu %.3f s\n", title, lines.size(),
              list.Count(), list.RejectedLines.size(), static_cast<double>(lines.size()) / timing.wall, timing.cpu);
}

}  // namespace

int main() {
  std::mt19937 random(2024);
  TStringList unixLines;
  TStringList mixedLines;
  for (int i = 0; i < kLineCount; ++i) {
    unixLines.push_back(UnixLine(random, i));
    mixedLines.push_back(i % 5 == 0 ? UnixLine(random, i) : OtherLine(random, i));
  }
  ReportListing("unix ls -l", unixLines);
  ReportListing("mixed styles", mixedLines);

  TFTPList list;
  list.RawLines = mixedLines;
  list.ParseListing();
  std::vector<std::string> names;
  names.reserve(kNameCount);
  for (int i = 0; names.size() < static_cast<std::size_t>(kNameCount); ++i) {
    names.push_back(list.EntryAt(i % list.Count())->Name);
  }
  for (const char* maskText : {"*.*", "*.TXT", "file_0[0-4]*.dat", "[!d]*_??????*"}) {
    const TMask mask(maskText);
    long matches = 0;
    const Timing timing = Measure([&] {
      for (const std::string& name : names) matches += mask.IsMatch(name);
    });
    std::printf("mask %-20s %8d names  %7ld matches  %12.0f names/s  cpu %.3f s\n", maskText, kNameCount, matches,
                kNameCount / timing.wall, timing.cpu);
  }
  return 0;
}
