// The MIME type to extension map: a map file of our own for the rules, and
// the system's /etc/mime.types for the types the HTTP GET job meets.
#include <gtest/gtest.h>

#include "platform/mimetypes.h"
#include "support/testsupport.h"

using namespace testsupport;

namespace {

const char* const SampleMap =
    "# a comment line\n"
    "\n"
    "text/csv\t\t\t\t\tcsv\n"
    "text/html     html htm shtml\r\n"
    "application/x-none\n"
    "application/x-comment   # not an extension\n"
    "application/x-twice    first\n"
    "application/x-twice    second\n"
    "application/x-evil     ../../etc/passwd\n";

std::string Lookup(const std::string& Map, const std::string& Type, bool& Listed) {
  std::string Extension = "unchanged";
  Listed = FindMimeTypeExtension(Type, Extension, Map);
  return Extension;
}

}  // namespace

TEST(MimeTypes, SampleMapRules) {
  TempDir Dir;
  WriteFile(Dir / "mime.types", SampleMap);
  const std::string Map = Dir / "mime.types";
  bool Listed = false;
  EXPECT_EQ(Lookup(Map, "text/csv", Listed), ".csv");
  EXPECT_TRUE(Listed);
  EXPECT_EQ(Lookup(Map, "text/html", Listed), ".html") << "the first extension counts";
  EXPECT_TRUE(Listed);
  EXPECT_EQ(Lookup(Map, "TEXT/Html", Listed), ".html") << "types ignore case";
  EXPECT_EQ(Lookup(Map, "application/x-none", Listed), "");
  EXPECT_TRUE(Listed) << "listed without an extension";
  EXPECT_EQ(Lookup(Map, "application/x-comment", Listed), "");
  EXPECT_TRUE(Listed);
  EXPECT_EQ(Lookup(Map, "application/x-twice", Listed), ".first") << "the first line counts";
  EXPECT_EQ(Lookup(Map, "application/x-evil", Listed), "");
  EXPECT_TRUE(Listed) << "an extension with a path separator is never used";
}

TEST(MimeTypes, UnlistedEmptyOrPartialTypesAreNotFound) {
  TempDir Dir;
  WriteFile(Dir / "mime.types", SampleMap);
  const std::string Map = Dir / "mime.types";
  bool Listed = true;
  EXPECT_EQ(Lookup(Map, "text/x-unknown", Listed), "");
  EXPECT_FALSE(Listed);
  EXPECT_EQ(Lookup(Map, "", Listed), "");
  EXPECT_FALSE(Listed);
  std::string Extension;
  EXPECT_FALSE(FindMimeTypeExtension("text/csv ", Extension, Map)) << "values are not trimmed";
  EXPECT_FALSE(FindMimeTypeExtension("text", Extension, Map));
  EXPECT_FALSE(FindMimeTypeExtension("csv", Extension, Map)) << "an extension is not a type";
  EXPECT_FALSE(FindMimeTypeExtension("text/csv", Extension, Dir / "missing.types"));
  EXPECT_EQ(Extension, "");
}

TEST(MimeTypes, SystemMapKnowsTheCommonTypes) {
  ASSERT_TRUE(FileExists(SystemMimeTypesFile)) << "install the media-types package";
  std::string Extension;
  ASSERT_TRUE(FindMimeTypeExtension("text/csv", Extension));
  EXPECT_EQ(Extension, ".csv");
  ASSERT_TRUE(FindMimeTypeExtension("text/html", Extension));
  EXPECT_EQ(Extension, ".html");
  ASSERT_TRUE(FindMimeTypeExtension("application/json", Extension));
  EXPECT_EQ(Extension, ".json");
  ASSERT_TRUE(FindMimeTypeExtension("application/json-seq", Extension)) << "listed without extensions";
  EXPECT_EQ(Extension, "");
  EXPECT_FALSE(FindMimeTypeExtension("application/x-tarvo-unregistered", Extension));
}
