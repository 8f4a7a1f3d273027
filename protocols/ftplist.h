// The FTP directory listing parser: turns the free-form lines a server sends
// for LIST into entries with name, directory flag, size, modification time
// and permissions. A line is read as EPLF ("+" and comma-separated facts) or
// by the first of 36 line masks that both matches it and yields valid
// fields; the mask order is part of the format. Lines no format accepts
// (headings such as "total 12", blank lines, dates that do not exist) are
// kept in RejectedLines. Nothing here fails loudly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/streams.h"

// One listing entry.
class TFTPListRec {
 public:
  virtual ~TFTPListRec() = default;

  std::string Name;         // as listed, a link's " -> target" and trailing blanks removed
  bool IsDir = false;       // symbolic links count as directories
  bool IsReadable = false;
  std::int64_t Size = 0;    // bytes; 0 when not listed
  double ModifiedTime = 0;  // local date-time as listed, no zone conversion
  std::string SourceLine;   // the listing line the entry came from
  std::string MatchedMask;  // the mask that accepted the line, or "EPLF"
  std::string Permissions;  // the ten permission characters, or empty

  // Copies every field of Other, Permissions included.
  virtual void AssignEntry(const TFTPListRec& Other);
};

class TFTPList {
 public:
  // Fills LineMasks with the 36 built-in masks.
  TFTPList();
  virtual ~TFTPList();
  TFTPList(const TFTPList&) = delete;
  TFTPList& operator=(const TFTPList&) = delete;

  std::vector<std::unique_ptr<TFTPListRec>> Entries;  // in listing order
  TStringList RawLines;       // input of ParseListing, one listing line each
  TStringList LineMasks;      // tried in this order
  TStringList RejectedLines;  // lines no format accepted, in listing order

  // Scratch fields written by MatchMask, checked by ValidateFields and read
  // by BuildEntry; reset by every MatchMask.
  std::string MonthNamesText;
  std::string BlockFactorText;
  std::string DirMarker;
  std::string NameText;
  std::string VmsNameText;
  std::string DayText;
  std::string MonthText;
  std::string MonthNameText;
  std::string YearOrTimeText;
  std::string YearText;
  std::string HourText;
  std::string HourSuffixText;
  std::string MinuteText;
  std::string SecondText;
  std::string SizeText;
  std::string PermText;
  std::string DirFlagText;

  // The entry at a 0-based index; nullptr when the index is negative or not
  // below Count.
  virtual TFTPListRec* EntryAt(int Index) const;
  // Adds the entry of an EPLF line; false (nothing added) when the line is
  // not EPLF, has no name, or names "." or "..".
  virtual bool ParseEplfLine(const std::string& Line);
  // Empties the capture fields.
  virtual void ResetFields();
  // 0 = Line does not fit Mask, 1 = it fits, 2 = it fits using NextLine too.
  // Fills the capture fields.
  virtual int MatchMask(const std::string& Line, const std::string& NextLine, const std::string& Mask);
  // True when the capture fields hold plausible values; trims some of them.
  virtual bool ValidateFields();
  // Fills Entry from the capture fields. False when they do not form a real
  // date and time (31 February, hour 24); Entry is then not to be used.
  virtual bool BuildEntry(TFTPListRec& Entry);
  // Releases every entry and empties RawLines and RejectedLines; LineMasks
  // stays.
  virtual void Clear();
  virtual int Count() const;
  // Clear, then copies of Other's entries, RawLines, LineMasks and
  // RejectedLines.
  virtual void CopyFrom(const TFTPList& Other);
  // Parses RawLines into Entries and RejectedLines. "Today" and "now" are
  // read once, so one listing is dated consistently.
  virtual void ParseListing();

 private:
  std::string* CaptureField(char MaskChar);
  std::size_t TakeMaskParameter(const std::string& Mask, std::size_t EqualsAt, char Previous);
  bool YearOrTimeValid();
  bool YearValid();
  std::int64_t SizeFromFields() const;
  int YearFromField() const;
  bool TakeYearOrTime(double Now, int& Year, int Month, int Day, int& Hours, int& Minutes) const;
  int ParseMaskedLine(const std::string& Line, const std::string& NextLine, bool VmsOnly);

  double Now_ = 0;  // local date-time, fixed per ParseListing; 0 = read the clock
};
