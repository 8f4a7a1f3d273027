#include "jobs/tarvoHttpPostFile.h"

// Placeholder until this job kind is built: say so and fail the job.
std::int32_t RunHttpUploadJob(const TtarvoParam&) {
  return WriteLog("This job mode is not available yet.", 2);
}
