// The FTP GET job: lists one remote directory and fetches every plain file
// whose name matches a mask into a local directory, each written under a
// ".tmp" name, checked by size, optionally deleted on the server and given
// the listed time stamp, then put in place in one atomic rename.
#pragma once

#include <cstdint>
#include <string>

#include "app/tarvoCommon.h"

// Runs one job record and returns its status: 0 success, 1 remote failure,
// 2 local failure. An invalid mask raises EMaskException once the first
// file is tested against it, after the session has been closed.
std::int32_t RunFtpGetJob(const TtarvoParam& Param);

// False for a listed name that must never become a local file name: empty,
// "." or "..", or holding "/", "\", a zero byte or another control
// character (below 0x20, or 0x7F).
bool IsSafeLocalFileName(const std::string& Name);

// The local directory of a job: LocalPath with "\" read as "/", a "/"
// appended when missing, made absolute against the working directory; an
// empty LocalPath is the working directory. Always ends in "/".
std::string FtpGetLocalDirectory(const std::string& LocalPath);
