// Whole-file writes, replacing and removing files, for jobs that save what a
// server sent. Failures come back as false with the system's reason text.
#pragma once

#include <string>

// Creates or truncates FileName and writes all of Data to it. False and
// Reason when the file cannot be created, written in full (disk full) or
// closed.
bool WriteWholeFile(const std::string& FileName, const std::string& Data, std::string& Reason);

// Renames From to To in one step, replacing an existing To (there is no
// moment without a file of that name). False and Reason when the system
// refuses; From is then left as it was.
bool ReplaceFile(const std::string& From, const std::string& To, std::string& Reason);

// Removes the plain file FileName. False when it is missing or the system
// refuses.
bool RemoveFile(const std::string& FileName);
