// Job records read from the job file, the console log and the small local
// file operations that every transfer job shares.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TLocalFileWriter;

// The five job kinds, in the order of their numeric values.
enum class JobMode : std::uint8_t { FtpGet = 0, FtpPut = 1, HttpGet = 2, HttpPut = 3, HttpPostFile = 4 };

// FTP over TLS for the FTP jobs: none, AUTH TLS after the greeting, or TLS
// from the first byte. Invalid: a value the reader did not know, which the
// jobs refuse rather than guess whether to protect the session.
enum class FtpTlsMode : std::uint8_t { None = 0, Explicit = 1, Implicit = 2, Invalid = 3 };

// One job, as read from one section of the job file. Every field is filled
// by LoadJobs, with the defaults of the job's mode where a key is missing.
struct TtarvoParam {
  std::string SectionName;
  JobMode Mode = JobMode::FtpGet;
  // A Mode value that is none of the five, as written: such a job is not run.
  std::optional<std::string> UnknownMode;
  // Keys of the section that no field reads (typos, most likely), in file order.
  std::vector<std::string> UnknownKeys;
  std::string Target;
  std::string TargetPort;
  std::int32_t Timeout = 60000;
  std::string UserName;
  std::string Password;
  bool DeleteMode = false;
  bool TouchDateMode = true;
  std::string RemotePath;
  std::string LocalPath;
  bool FtpBinaryMode = true;
  bool FtpPassiveMode = true;
  bool HttpSaveHeader = false;
  std::string HttpProtocol;
  bool HttpKeepAlive = false;
  bool HttpNoCache = true;
  std::string HTTPFieldName;
  std::string ProxyHost;
  std::string ProxyPort;
  std::int32_t ProxyMode = 0;
  std::string ProxyUserName;
  std::string ProxyPassword;
  // Keys added later; a job file without them behaves as before.
  bool TlsVerify = false;  // check certificate chain and host name
  std::string TlsCaFile;   // trusted certificates (PEM); empty: the system's
  FtpTlsMode FtpTls = FtpTlsMode::None;
  std::int32_t Retries = 0;         // reconnects after connection-level failures, 0..100
  std::int32_t RetryDelay = 10000;  // ms before the first retry; doubled for each further one
};

using TArrayOftarvoParam = std::vector<TtarvoParam>;

// Reads every section of the job file into Jobs (one record per section, in
// file order, every key not written taking its default). The name is made
// absolute against the working directory first. Returns 0 when the file was
// read (whatever the number of sections). Returns 2, with Jobs empty, after
// logging "Not Found INI file. " + full path as an error line when no file
// of that name exists, or "Cannot read INI file. " + full path + reason when
// it exists but cannot be read (a directory, for one).
std::int32_t LoadJobs(const std::string& FileName, TArrayOftarvoParam& Jobs);

// Writes one stamped line to standard output in a single write: stamp + " "
// + text for status 0, stamp + " ERROR: " + text otherwise. Control
// characters in the text (below 0x20, and 0x7F) are written as "\x" and two
// upper-case hex digits, so the text stays on its one line. The stamp is the
// local "yyyy/MM/dd H:mm:ss", the date alone at exactly midnight. Returns
// Status unchanged.
std::int32_t WriteLog(const std::string& Text, std::int32_t Status);

// A local date-time as the log stamp shows it: "yyyy/MM/dd H:mm:ss", the
// date alone when the time is exactly midnight.
std::string FormatLogStamp(double LocalDateTime);

// Name made absolute against the working directory, "." and ".." resolved
// by the text alone; a trailing "/" is kept.
std::string FullPathName(const std::string& Name);

// The local file helpers take "/" or "\" as path separators.

// True when Path names an existing directory.
bool IsDirectory(const std::string& Path);

// Size in bytes of FileName, or -1 when there is no such file. A file of
// that very name counts first; otherwise, with wildcards in the last
// component: the size of the first matching entry (by byte order of names;
// 0 for a directory).
std::int64_t GetLocalFileSize(const std::string& FileName);

// Exact: the file must have exactly Expected bytes; otherwise at least
// Expected. A missing file always fails.
bool CheckLocalFileSize(bool Exact, const std::string& FileName, std::int64_t Expected);

// Sets the modification time (not the access time) of an existing file from
// a local date-time, cut to even seconds. False when the file is missing or
// cannot be opened for writing, the date is outside 1980..2107, or the
// system refuses.
bool SetLocalFileDate(const std::string& FileName, double LocalDateTime);

// The same for the temporary file a job is writing, never through a link.
bool SetLocalFileDate(TLocalFileWriter& File, double LocalDateTime);

// Fills Names with the bare names of the plain files in the directory of
// Path whose names match its last component ("*" any run, "?" one character,
// ASCII case ignored, "*.*" every name; hidden files included), sorted by
// byte value, and returns how many there are: 0 when the directory is
// missing.
int ListLocalFiles(const std::string& Path, std::vector<std::string>& Names);

// The files an upload job sends: ListLocalFiles without the names ending in
// "_Header.TXT", the side files the jobs write themselves, so that a side
// file of an earlier run is never sent again.
int ListUploadFiles(const std::string& Path, std::vector<std::string>& Names);
