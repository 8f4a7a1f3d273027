// The HTTP GET job: fetches one URL into a file named from the URL and the
// response's content type, optionally stamps it with the server's time,
// asks the server to DELETE the resource once the copy is verified, and
// keeps the response header beside it.
#pragma once

#include <cstdint>
#include <string>

#include "app/tarvoCommon.h"
#include "util/streams.h"

// What the job takes from the response header.
struct THTTPAttr {
  std::string ContentType;         // up to the first ";"
  std::int64_t ContentLength = 0;  // 0 when the header is absent
  std::string Date;                // up to the first ";"
  std::string LastModified;        // up to the first ";"
};

// Fills the attributes from the response's status and header lines: for each
// line with a ":", the name (case ignored) picks the field and the value is
// what follows the character after the colon, cut at the first ";", not
// trimmed; later lines win. The length is read as the HTTP engine frames
// the body (AnnouncedContentLength): 0 without Content-Length or when a
// Transfer-Encoding line decides; throws std::runtime_error when it is
// invalid (not decimal digits, several different values).
THTTPAttr ParseResponseHeaders(const TStringList& Lines);

// The file extension registered for the content type (from the system's
// MIME map): "." + its first extension, empty when the type is listed
// without one, ".bin" when it is not listed or empty.
std::string ExtensionForMimeType(const THTTPAttr& Attr);

// The local date-time to give the saved file: Last-Modified if present,
// else Date, else now. Throws when a date cannot be decoded to a real one.
double ResponseFileTime(const THTTPAttr& Attr);

// Runs one HTTPGET job record. Logs "Target: " + URL (its password masked),
// then "http GET Result:" + code + " " + reason; on 200 saves the body
// (written as it arrives into a new temporary file, put in place only once
// complete and of the announced length; nothing is left behind when it
// fails), and goes on with the time stamp, the DELETE and the "_Header.TXT"
// side file as the record asks; any other code writes only the side file,
// in LocalPath too. Returns 0 (also for 404 and 410: nothing to fetch), 1
// for any other code but 200, when the request got no complete response
// ("Can not http get " + URL + " (" + socket error + ")") or a DELETE got
// none, 2 after a local failure or a DELETE answered with anything but 2xx.
std::int32_t RunHttpGetJob(const TtarvoParam& Param);
