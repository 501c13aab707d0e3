#pragma once

// Checks on the files a program is told to read, made before they are opened.

#include <string>

#include "base/result.h"

namespace benchcap {

// Whether `path` names a regular file (links followed), asked with stat(): opening a named
// pipe for reading blocks until someone writes to it, a device such as /dev/zero never
// ends, and a folder reads as nothing. Fails with "cannot read WHAT PATH: " and the reason
// ("it is a folder, not a regular file"; the system's for a missing or unreadable one).
// `what` names the file for the user: "the bus log".
Status checkRegularFile(const std::string& path, const std::string& what);

// Whether two names lead to the same file: the same file now, or the same place once
// links (a dangling one too: a writer creates the file it points to) and "." and ".."
// are followed, so a file that does not exist yet is compared as well.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace benchcap
