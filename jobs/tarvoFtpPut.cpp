#include "jobs/tarvoFtpPut.h"

// Placeholder until this job kind is built: say so and fail the job.
std::int32_t RunFtpPutJob(const TtarvoParam&) {
  return WriteLog("This job mode is not available yet.", 2);
}
