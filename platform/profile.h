// The profile (INI) file reader behind the job file. The file is read once
// and parsed into its sections in file order; every occurrence of a section
// header is a section of its own, even when two headers share a name.
//
// Conventions: section and key names are compared without regard to ASCII
// case; blanks (space, tab) around names and values are dropped; a value
// wholly enclosed in matching double or single quotes loses them; lines whose
// first non-blank character is ";" or "#" are comments; lines end in LF,
// CR LF or CR; a UTF-8 byte order mark is skipped and a UTF-16 file (with its
// byte order mark) is read as UTF-8; lines without "=" are ignored, as are
// keys before the first section; the first occurrence of a key in a section
// wins. Values are cut to ProfileValueLimit bytes.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Longest value a reader returns, in bytes.
inline constexpr std::size_t ProfileValueLimit = 2047;

class TProfile {
 public:
  // Reads and parses the whole file. False when it cannot be opened or read;
  // ErrorText then holds the system's reason.
  bool LoadFromFile(const std::string& FileName, std::string& ErrorText);

  // Parses profile text already in memory (replacing earlier content).
  void LoadFromText(const std::string& Text);

  std::size_t SectionCount() const { return Sections_.size(); }

  // Name of the section at Index (0-based, file order), as written between
  // the brackets without surrounding blanks.
  const std::string& SectionName(std::size_t Index) const { return Sections_[Index].Name; }

  // The value of Key in the section at Index, or Default when the section
  // has no such key.
  std::string ReadString(std::size_t Index, const std::string& Key, const std::string& Default) const;

  // The key names of the section at Index as written, in file order,
  // repeated keys included.
  std::vector<std::string> KeyNames(std::size_t Index) const;

  // True when the section at Index holds Key, whatever its value.
  bool HasKey(std::size_t Index, const std::string& Key) const;

 private:
  struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Keys;  // file order
  };
  std::vector<TSection> Sections_;
};
