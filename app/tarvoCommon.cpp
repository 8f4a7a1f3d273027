#include "app/tarvoCommon.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "platform/console.h"
#include "platform/filesys.h"
#include "platform/localfile.h"
#include "platform/profile.h"
#include "platform/systime.h"

namespace {

bool IsFtpMode(JobMode Mode) { return Mode == JobMode::FtpGet || Mode == JobMode::FtpPut; }

std::string UpperAscii(std::string Text) {
  for (char& C : Text)
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
  return Text;
}

int DigitValue(char C, int Base) {
  int Value = 99;
  if (C >= '0' && C <= '9') Value = C - '0';
  else if (C >= 'a' && C <= 'f') Value = C - 'a' + 10;
  else if (C >= 'A' && C <= 'F') Value = C - 'A' + 10;
  return Value < Base ? Value : -1;
}

// Leading blanks, an optional sign, then decimal digits or hexadecimal ones
// after "$", "0x" or "0X". Anything else, or a number outside 32 bits, fails.
bool TryParseInt32(std::string_view Text, std::int32_t& Result) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  bool Negative = false;
  if (!Text.empty() && (Text.front() == '+' || Text.front() == '-')) {
    Negative = Text.front() == '-';
    Text.remove_prefix(1);
  }
  int Base = 10;
  if (!Text.empty() && Text.front() == '$') {
    Base = 16;
    Text.remove_prefix(1);
  } else if (Text.size() >= 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Base = 16;
    Text.remove_prefix(2);
  }
  if (Text.empty()) return false;
  std::int64_t Magnitude = 0;
  for (const char C : Text) {
    const int Digit = DigitValue(C, Base);
    if (Digit < 0) return false;
    Magnitude = Magnitude * Base + Digit;
    if (Magnitude > 2147483648LL) return false;
  }
  const std::int64_t Value = Negative ? -Magnitude : Magnitude;
  if (Value > 2147483647LL) return false;
  Result = static_cast<std::int32_t>(Value);
  return true;
}

std::int32_t ReadInteger(const TProfile& Profile, std::size_t Section, const char* Key, std::int32_t Default) {
  std::int32_t Value = Default;
  return TryParseInt32(Profile.ReadString(Section, Key, ""), Value) ? Value : Default;
}

// A port number in 1..65535 as decimal text, else the mode's standard port.
std::string ReadPort(const TProfile& Profile, std::size_t Section, const char* Key, JobMode Mode) {
  const std::int32_t Port = ReadInteger(Profile, Section, Key, 0);
  if (Port < 1 || Port > 65535) return IsFtpMode(Mode) ? "21" : "80";
  return std::to_string(Port);
}

// On only for the word true.
bool ReadTrueOnly(const TProfile& Profile, std::size_t Section, const char* Key) {
  return UpperAscii(Profile.ReadString(Section, Key, "False")) == "TRUE";
}

// On for everything but the word false. The default differs between keys.
bool ReadAllButFalse(const TProfile& Profile, std::size_t Section, const char* Key, const char* Default) {
  return UpperAscii(Profile.ReadString(Section, Key, Default)) != "FALSE";
}

// A section without Mode is an FTP download; a Mode that is written but is
// none of the five is kept in UnknownMode, so that a typo such as FTPPUTT
// never runs as a download with the job's DeleteMode.
void ReadMode(const TProfile& Profile, std::size_t Section, TtarvoParam& Job) {
  static const std::pair<const char*, JobMode> Modes[] = {
      {"FTPGET", JobMode::FtpGet},   {"FTPPUT", JobMode::FtpPut},
      {"HTTPGET", JobMode::HttpGet}, {"HTTPPUT", JobMode::HttpPut},
      {"HTTPPOSTFILE", JobMode::HttpPostFile},
  };
  const std::string Written = Profile.ReadString(Section, "Mode", "FTPGET");
  const std::string Upper = UpperAscii(Written);
  for (const auto& [Name, Mode] : Modes) {
    if (Upper != Name) continue;
    Job.Mode = Mode;
    return;
  }
  Job.Mode = JobMode::FtpGet;
  if (Profile.HasKey(Section, "Mode")) Job.UnknownMode = Written;
}

// Every key a section may hold, one a line; ReadJob reads each of them.
const char* const KnownKeys[] = {
    "Mode",
    "Target",
    "TargetPort",
    "Timeout",
    "UserName",
    "Password",
    "DeleteMode",
    "TouchDateMode",
    "RemotePath",
    "LocalPath",
    "FtpBinaryMode",
    "FtpPassiveMode",
    "HttpSaveHeader",
    "HttpProtocol",
    "HttpKeepAlive",
    "HttpNoCache",
    "HTTPFieldName",
    "ProxyHost",
    "ProxyPort",
    "ProxyMode",
    "ProxyUserName",
    "ProxyPassword",
    "TlsVerify",
    "TlsCaFile",
    "FtpTls",
    "Retries",
    "RetryDelay",
};

bool IsKnownKey(const std::string& Key) {
  const std::string Upper = UpperAscii(Key);
  for (const char* Name : KnownKeys)
    if (Upper == UpperAscii(Name)) return true;
  return false;
}

std::vector<std::string> UnknownKeysOf(const TProfile& Profile, std::size_t Section) {
  std::vector<std::string> Unknown;
  for (const std::string& Key : Profile.KeyNames(Section))
    if (!IsKnownKey(Key)) Unknown.push_back(Key);
  return Unknown;
}

// Empty counts as not written.
FtpTlsMode ReadFtpTls(const TProfile& Profile, std::size_t Section) {
  const std::string Text = UpperAscii(Profile.ReadString(Section, "FtpTls", "NONE"));
  if (Text == "NONE" || Text.empty()) return FtpTlsMode::None;
  if (Text == "EXPLICIT") return FtpTlsMode::Explicit;
  if (Text == "IMPLICIT") return FtpTlsMode::Implicit;
  return FtpTlsMode::Invalid;
}

TtarvoParam ReadJob(const TProfile& Profile, std::size_t Section) {
  TtarvoParam Job;
  Job.SectionName = Profile.SectionName(Section);
  ReadMode(Profile, Section, Job);
  Job.UnknownKeys = UnknownKeysOf(Profile, Section);
  const bool Ftp = IsFtpMode(Job.Mode);
  const auto Text = [&](const char* Key, const std::string& Default) {
    return Profile.ReadString(Section, Key, Default);
  };
  Job.Target = Text("Target", Ftp ? "localhost" : "http://localhost/");
  Job.TargetPort = ReadPort(Profile, Section, "TargetPort", Job.Mode);
  Job.Timeout = ReadInteger(Profile, Section, "Timeout", 60000);
  if (Job.Timeout < 1) Job.Timeout = 60000;
  Job.UserName = Text("UserName", Ftp ? "anonymous" : "");
  Job.Password = Text("Password", Ftp ? "tarvo@anonymous" : "");
  Job.FtpBinaryMode = ReadAllButFalse(Profile, Section, "FtpBinaryMode", "True");
  Job.FtpPassiveMode = ReadAllButFalse(Profile, Section, "FtpPassiveMode", "True");
  Job.DeleteMode = ReadTrueOnly(Profile, Section, "DeleteMode");
  Job.TouchDateMode = ReadAllButFalse(Profile, Section, "TouchDateMode", "True");
  Job.RemotePath = Text("RemotePath", Job.Mode == JobMode::FtpGet ? "/*.*" : "/");
  Job.LocalPath = Text("LocalPath", Job.Mode == JobMode::FtpPut ? "./*.*" : "./");
  Job.HttpSaveHeader = ReadAllButFalse(Profile, Section, "HttpSaveHeader", "False");
  Job.HttpProtocol = Text("HttpProtocol", "1.1") == "1.1" ? "1.1" : "1.0";
  Job.HttpKeepAlive = ReadTrueOnly(Profile, Section, "HttpKeepAlive");
  Job.HttpNoCache = ReadAllButFalse(Profile, Section, "HttpNoCache", "True");
  Job.HTTPFieldName = Text("HTTPFieldName", Job.Mode == JobMode::HttpPostFile ? "POSTFILE" : "");
  Job.ProxyHost = Text("ProxyHost", "");
  Job.ProxyPort = ReadPort(Profile, Section, "ProxyPort", Job.Mode);
  Job.ProxyMode = ReadInteger(Profile, Section, "ProxyMode", 0);
  Job.ProxyUserName = Text("ProxyUserName", "");
  Job.ProxyPassword = Text("ProxyPassword", "");
  Job.TlsVerify = ReadTrueOnly(Profile, Section, "TlsVerify");
  Job.TlsCaFile = Text("TlsCaFile", "");
  Job.FtpTls = ReadFtpTls(Profile, Section);
  // Out of range is pulled into range: a typo must not make a job retry
  // forever or wait for days.
  Job.Retries = std::clamp(ReadInteger(Profile, Section, "Retries", 0), 0, 100);
  Job.RetryDelay = std::clamp(ReadInteger(Profile, Section, "RetryDelay", 10000), 0, 600000);
  return Job;
}

// A directory exists too: it is reported as unreadable, with its reason,
// not as missing.
bool IsExistingEntry(const std::string& Path) {
  struct stat Info;
  return stat(Path.c_str(), &Info) == 0;
}

}  // namespace

std::string FormatLogStamp(double LocalDateTime) {
  int Year, Month, Day, Hour, Minute, Second, MilliSecond;
  DecodeDate(LocalDateTime, Year, Month, Day);
  DecodeTime(LocalDateTime, Hour, Minute, Second, MilliSecond);
  char Text[64];
  if (Hour == 0 && Minute == 0 && Second == 0)
    std::snprintf(Text, sizeof(Text), "%04d/%02d/%02d", Year, Month, Day);
  else
    std::snprintf(Text, sizeof(Text), "%04d/%02d/%02d %d:%02d:%02d", Year, Month, Day, Hour, Minute, Second);
  return Text;
}

std::string FullPathName(const std::string& Name) {
  std::filesystem::path Path(Name);
  if (Path.is_relative()) {
    std::error_code Error;
    const std::filesystem::path WorkDir = std::filesystem::current_path(Error);
    if (!Error) Path = WorkDir / Path;
  }
  return Path.lexically_normal().string();
}

std::int32_t WriteLog(const std::string& Text, std::int32_t Status) {
  std::string Line = FormatLogStamp(NowLocal());
  Line += Status == 0 ? " " : " ERROR: ";
  // Names and replies come from peers: a line break or terminal escape in
  // them must neither start a forged line nor reach an operator's screen.
  static constexpr char Hex[] = "0123456789ABCDEF";
  for (const char C : Text) {
    const auto Byte = static_cast<unsigned char>(C);
    if (Byte >= 0x20 && Byte != 0x7F) {
      Line += C;
      continue;
    }
    Line += "\\x";
    Line += Hex[Byte >> 4];
    Line += Hex[Byte & 0x0F];
  }
  Line += '\n';
  // One write per line, so a log piped to a file stays whole if we are killed.
  WriteConsoleLine(Line);
  return Status;
}

std::int32_t LoadJobs(const std::string& FileName, TArrayOftarvoParam& Jobs) {
  Jobs.clear();
  const std::string FullName = FullPathName(FileName);
  if (!IsExistingEntry(FullName)) return WriteLog("Not Found INI file. " + FullName, 2);

  TProfile Profile;
  std::string Reason;
  // A job file that exists but cannot be read must not pass for an empty one.
  if (!Profile.LoadFromFile(FullName, Reason))
    return WriteLog("Cannot read INI file. " + FullName + " (" + Reason + ")", 2);
  Jobs.reserve(Profile.SectionCount());
  for (std::size_t Section = 0; Section < Profile.SectionCount(); ++Section) Jobs.push_back(ReadJob(Profile, Section));
  return 0;
}

bool IsDirectory(const std::string& Path) { return DirectoryExists(Path); }

std::int64_t GetLocalFileSize(const std::string& FileName) {
  // A name is looked up as written first: matching it as a pattern, or
  // without regard to case, could report the size of a different file (a
  // downloaded "a?.txt" must not be measured by "ab.txt").
  const std::string Native = NativePath(FileName);
  const std::int64_t Size = EntrySize(Native);
  if (Size >= 0) return Size;
  const std::vector<TFoundEntry> Found = FindEntries(Native);
  return Found.empty() ? -1 : Found.front().Size;
}

bool CheckLocalFileSize(bool Exact, const std::string& FileName, std::int64_t Expected) {
  const std::int64_t Actual = GetLocalFileSize(FileName);
  if (Actual < 0) return false;
  return Exact ? Actual == Expected : Actual >= Expected;
}

namespace {

// File dates are kept at the precision of packed DOS dates: 1980..2107,
// seconds rounded down to even.
bool PackedFileTime(double LocalDateTime, std::int64_t& Seconds) {
  int Year, Month, Day, Hour, Minute, Second, MilliSecond;
  DecodeDate(LocalDateTime, Year, Month, Day);
  DecodeTime(LocalDateTime, Hour, Minute, Second, MilliSecond);
  if (Year < 1980 || Year > 2107) return false;
  double Date = 0, Time = 0;
  if (!TryEncodeDate(Year, Month, Day, Date) || !TryEncodeTime(Hour, Minute, Second & ~1, 0, Time)) return false;
  return LocalDateTimeToUnix(Date + Time, Seconds);
}

}  // namespace

bool SetLocalFileDate(const std::string& FileName, double LocalDateTime) {
  std::int64_t Seconds = 0;
  return PackedFileTime(LocalDateTime, Seconds) && SetFileModificationTime(FileName, Seconds);
}

bool SetLocalFileDate(TLocalFileWriter& File, double LocalDateTime) {
  std::int64_t Seconds = 0;
  return PackedFileTime(LocalDateTime, Seconds) && File.SetModificationTime(Seconds);
}

int ListLocalFiles(const std::string& Path, std::vector<std::string>& Names) {
  Names.clear();
  for (const TFoundEntry& Entry : FindEntries(Path))
    if (!Entry.Directory) Names.push_back(Entry.Name);
  return static_cast<int>(Names.size());
}

int ListUploadFiles(const std::string& Path, std::vector<std::string>& Names) {
  static const std::string SideFileEnd = "_Header.TXT";
  ListLocalFiles(Path, Names);
  std::erase_if(Names, [](const std::string& Name) { return Name.ends_with(SideFileEnd); });
  return static_cast<int>(Names.size());
}
