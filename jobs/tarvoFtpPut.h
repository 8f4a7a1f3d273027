// The FTP PUT job.
#pragma once

#include <cstdint>

#include "app/tarvoCommon.h"

// Runs one job record and returns its status: 0 success, 1 remote failure,
// 2 local failure.
std::int32_t RunFtpPutJob(const TtarvoParam& Param);
