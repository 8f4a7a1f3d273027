// The file system as the jobs see it: "\" accepted as a path separator,
// directory tests, directory searches with wildcard names (the rules users
// know from Windows: "*" any run of characters, "?" one character, ASCII
// case ignored, "*.*" every name), 64-bit sizes and setting a file's
// modification time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Path with every "\" turned into "/".
std::string NativePath(const std::string& Path);

// Path made absolute against the working directory, "." and ".." steps
// and doubled separators removed, with "/" as the separator (a trailing
// one kept). On Windows with the drive: "C:/data/in/".
std::string AbsolutePath(const std::string& Path);

// True when Name contains a wildcard character ("*" or "?").
bool HasWildcards(const std::string& Name);

// True when Name matches the search pattern: "*" matches any run of
// characters, "?" exactly one, letters match regardless of ASCII case. A
// pattern ending in ".*" also matches names without that extension (so
// "*.*" matches every name), and one ending in "." matches only names
// without a dot.
bool MatchesSearchPattern(const std::string& Name, const std::string& Pattern);

// True when Path names an existing directory.
bool DirectoryExists(const std::string& Path);

// True when an entry of any kind exists at Path (a link is followed).
bool EntryExists(const std::string& Path);

struct TFoundEntry {
  std::string Name;  // bare name, no directory part
  bool Directory = false;
  std::int64_t Size = 0;  // 0 for directories
};

// The entries of the directory part of Path whose names match its last
// component (see MatchesSearchPattern), "." and ".." excluded, sorted by
// byte value. Directories are reported as such; symbolic links are followed
// and entries that are neither plain files nor directories (devices, pipes,
// sockets, dangling links) are left out, since no transfer can read them.
// Empty when the directory does not exist or cannot be read.
std::vector<TFoundEntry> FindEntries(const std::string& Path);

// Size in bytes of the plain file or directory (0) at Path, or -1 when
// there is none.
std::int64_t EntrySize(const std::string& Path);

// Opens the existing file for writing (never creating it) and sets its
// modification time to UnixSeconds, leaving the access time alone. False
// when the file is missing, cannot be opened for writing or the system
// refuses the time.
bool SetFileModificationTime(const std::string& FileName, std::int64_t UnixSeconds);

// Removes the file (not a directory) at Path; false when it cannot, with
// the system's reason in the second form.
bool DeleteLocalFile(const std::string& Path);
bool DeleteLocalFile(const std::string& Path, std::string& Reason);

// Moves the file From to the name To in one step, replacing a file of that
// name: at every moment either the old or the new file is there. False
// when the system refuses (To is a directory, another file system, ...).
bool ReplaceLocalFile(const std::string& From, const std::string& To);

// Reads the whole file into Text, as bytes. False, with the system's reason,
// when it cannot be opened or read.
bool ReadWholeFile(const std::string& FileName, std::string& Text, std::string& Reason);
