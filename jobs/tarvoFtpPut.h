// The FTP PUT job: stores every local plain file that matches a path with
// wildcards into one remote directory under its own name, checks each by
// the size the server reports, and optionally deletes the local copy.
#pragma once

#include <cstdint>
#include <string>

#include "app/tarvoCommon.h"

// Runs one job record and returns its status: 0 success (or nothing to
// send), 1 remote failure, 2 local failure.
std::int32_t RunFtpPutJob(const TtarvoParam& Param);

// The directory part of LocalPath ("\" read as "/"): everything up to and
// including the last "/", made absolute against the working directory;
// the working directory when there is no "/". Always ends in "/".
std::string FtpPutLocalDirectory(const std::string& LocalPath);
