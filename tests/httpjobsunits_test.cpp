// The pieces of the HTTP jobs that need no server: response header
// attributes, extensions, file times, the boundary sequence, the multipart
// body and the PUT URL.
#include <gtest/gtest.h>

#include <stdexcept>

#include "jobs/tarvoHttpGet.h"
#include "jobs/tarvoHttpPostFile.h"
#include "util/datetime.h"

TEST(HttpJobUnits, ResponseHeaderAttributes) {
  const THTTPAttr Attr = ParseResponseHeaders({"HTTP/1.1 200 OK", "content-type: text/html; charset=utf-8",
                                               "Content-Length: 5", "Date: Sun, 06 Nov 1994 08:49:38 GMT",
                                               "LAST-MODIFIED: x; y", "Content-Length: 5", ""});
  EXPECT_EQ(Attr.ContentType, "text/html");
  EXPECT_EQ(Attr.ContentLength, 5) << "several equal values are one";
  EXPECT_EQ(Attr.Date, "Sun, 06 Nov 1994 08:49:38 GMT");
  EXPECT_EQ(Attr.LastModified, "x");
  // The character after the colon is skipped unseen; values are not trimmed.
  EXPECT_EQ(ParseResponseHeaders({"Content-Type:text/csv"}).ContentType, "ext/csv");
  EXPECT_EQ(ParseResponseHeaders({"Content-Type:  text/csv "}).ContentType, " text/csv ");
  EXPECT_EQ(ParseResponseHeaders({"Content-Length:   7 "}).ContentLength, 7);
  EXPECT_EQ(ParseResponseHeaders({"Content-Length: 7, 7"}).ContentLength, 7);
  EXPECT_EQ(ParseResponseHeaders({"Content-Length: 5000000000"}).ContentLength, 5000000000) << "64-bit sizes";
  EXPECT_EQ(ParseResponseHeaders({}).ContentLength, 0);
  EXPECT_EQ(ParseResponseHeaders({"Content-Length: x", "Transfer-Encoding: chunked"}).ContentLength, 0)
      << "the coding frames the body, the length is not used";
  for (const char* Bad : {"Content-Length: ", "Content-Length: 1e3", "Content-Length: $1F", "Content-Length: 0x10",
                          "Content-Length: +20", "Content-Length: -5", "Content-Length: 5, 6",
                          "Content-Length: 99999999999999999999"})
    EXPECT_THROW(ParseResponseHeaders({Bad}), std::runtime_error) << Bad;
  EXPECT_THROW(ParseResponseHeaders({"Content-Length: 5", "Content-Length: 6"}), std::runtime_error);
}

TEST(HttpJobUnits, ExtensionAndFileTime) {
#ifdef _WIN32
  GTEST_SKIP() << "the MIME map is the registry's on Windows, not /etc/mime.types (winplatform_test covers it)";
#endif
  THTTPAttr Attr;
  EXPECT_EQ(ExtensionForMimeType(Attr), ".bin") << "empty type";
  Attr.ContentType = "text/csv";
  EXPECT_EQ(ExtensionForMimeType(Attr), ".csv");
  Attr.ContentType = "application/json-seq";
  EXPECT_EQ(ExtensionForMimeType(Attr), "");
  Attr.ContentType = "no/such-type";
  EXPECT_EQ(ExtensionForMimeType(Attr), ".bin");

  Attr.Date = "Sun, 06 Nov 1994 08:49:38 GMT";
  EXPECT_EQ(ResponseFileTime(Attr), DecodeHttpDate(Attr.Date));
  Attr.LastModified = "Thu, 04 Mar 2021 05:06:08 GMT";
  EXPECT_EQ(ResponseFileTime(Attr), DecodeHttpDate(Attr.LastModified));
  Attr.LastModified = "Mon, 31 Apr 2021 05:06:08 GMT";
  EXPECT_THROW(ResponseFileTime(Attr), std::runtime_error) << "no 31 April";
}

TEST(HttpJobUnits, BoundarySequenceIsTheSameInEveryRun) {
  EXPECT_EQ(NextMultipartBoundary(), "00000000_tarvo_boundary");
  EXPECT_EQ(NextMultipartBoundary(), "04044202_tarvo_boundary");
  EXPECT_EQ(NextMultipartBoundary(), "6E36D60E_tarvo_boundary");
  EXPECT_EQ(NextMultipartBoundary(), "19EE2C4D_tarvo_boundary");
}

TEST(HttpJobUnits, MultipartBodyBytes) {
  EXPECT_EQ(BuildMultipartBody("B", "POSTFILE", "/out/a.txt", "xy"),
            "--B\r\ncontent-disposition: form-data; name=\"POSTFILE\"; filename=\"/out/a.txt\"\r\n"
            "Content-Type: Application/octet-string\r\n\r\nxy\r\n--B--\r\n");
  EXPECT_EQ(BuildMultipartBody("B", "a\"b", "c\r\nd", ""),
            "--B\r\ncontent-disposition: form-data; name=\"a%22b\"; filename=\"c%0D%0Ad\"\r\n"
            "Content-Type: Application/octet-string\r\n\r\n\r\n--B--\r\n");
}

TEST(HttpJobUnits, PutUrl) {
  EXPECT_EQ(PutUrlFor("http://h/in/", "a b.txt"), "http://h/in/a%20b.txt");
  EXPECT_EQ(PutUrlFor("http://h/in", "a.txt"), "http://h/in/a.txt");
  EXPECT_EQ(PutUrlFor("http://my_host/~u/%20", "x"), "http://my%5Fhost/%7Eu/%2520/x");
  EXPECT_EQ(PutUrlFor("http://h/?q=1", "a?b#c"), "http://h/?q=1/a%3Fb%23c") << "the name follows the whole text";
  EXPECT_EQ(PutUrlFor("http://h/", "\xC3\xA4%.txt"), "http://h/%C3%A4%25.txt");
}
