// The version of the program and the source revision it was built from.
#pragma once

#include <string>

namespace qel {

// "VERSION (revision REV)", REV from git at build time or "unknown".
std::string version_text();
// The source revision alone.
const char* source_revision();

}  // namespace qel
