// The FTP directory listing parser; see ftplist.h.
#include "protocols/ftplist.h"

void TFTPListRec::AssignEntry(const TFTPListRec& Other) { *this = Other; }

TFTPList::TFTPList() {}
TFTPList::~TFTPList() { Clear(); }
TFTPListRec* TFTPList::EntryAt(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return Entries[static_cast<std::size_t>(Index)].get();
}
bool TFTPList::ParseEplfLine(const std::string&) { return false; }
void TFTPList::ResetFields() {}
int TFTPList::MatchMask(const std::string&, const std::string&, const std::string&) { return 0; }
bool TFTPList::ValidateFields() { return false; }
bool TFTPList::BuildEntry(TFTPListRec&) { return false; }
void TFTPList::Clear() {
  Entries.clear();
  RawLines.clear();
  RejectedLines.clear();
}
int TFTPList::Count() const { return static_cast<int>(Entries.size()); }
void TFTPList::CopyFrom(const TFTPList&) {}
void TFTPList::ParseListing() { RejectedLines = RawLines; }
