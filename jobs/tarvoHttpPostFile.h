// The HTTP upload job: sends every local file matching LocalPath to a web
// server, one request per file (and one connection per file unless kept
// alive), either as the body of a PUT to Target + the file name (HTTPPUT)
// or as the multipart/form-data POST a browser sends for a file-upload
// field (HTTPPOSTFILE).
#pragma once

#include <cstdint>
#include <string>

#include "app/tarvoCommon.h"
#include "util/streams.h"

class THTTPSend;
class TRetryBudget;

// The next multipart boundary of this run: eight upper-case hexadecimal
// digits of a linear congruential sequence that starts from the same seed in
// every run, + "_tarvo_boundary" (00000000_tarvo_boundary first, then
// 04044202_tarvo_boundary). One is drawn per uploaded file.
std::string NextMultipartBoundary();

// The multipart/form-data body of one file field: the part header naming
// FieldName and FileName (each with '"', CR and LF written as %22, %0D and
// %0A, as browsers do), the content as type Application/octet-string, and
// the closing delimiter. Boundary must not occur in Content.
std::string BuildMultipartBody(const std::string& Boundary, const std::string& FieldName,
                               const std::string& FileName, const std::string& Content);

// The PUT URL of a file: Target + "/" + Name ("/" not doubled), all of it
// percent-encoded; in the name "?" and "#" are encoded too, so that a file
// name never turns into a query or a fragment.
std::string PutUrlFor(const std::string& Target, const std::string& Name);

// Uploads one opened local file (Path is its full name) with Http as the
// job's mode asks, sending the file in pieces (for HTTPPOSTFILE between the
// part header and the closing delimiter, under a boundary the file does not
// contain), and returns true when the server answered 200, 201 or 202. Otherwise
// logs "HTTP " + code + " " + reason as an error line (code 500 and no reason
// when no response came) and returns false. Lines receives the response
// body split at CR LF, CR or LF (up to the first zero byte); it stays empty
// when no response was read. With Budget, a connection lost before any
// answer sends the whole file again while retries are left.
bool UploadOneFile(THTTPSend& Http, const std::string& Target, const std::string& FieldName,
                   const std::string& Path, const TtarvoParam& Param, TStringList& Lines, TStream& File,
                   TRetryBudget* Budget = nullptr);

// Runs one HTTPPUT or HTTPPOSTFILE job record. Returns 0, or the status of
// the last error line: 1 for a file the server did not accept, 2 for a local
// failure after the upload (deleting the file, writing the response file).
// Throws when a listed file cannot be opened, which ends the run.
std::int32_t RunHttpUploadJob(const TtarvoParam& Param);
