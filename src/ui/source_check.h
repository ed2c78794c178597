// What step 1 says of the chosen store file before the analysis page
// opens it, so that a file that is not there or cannot be read is said on
// step 1 and in its own words.
#pragma once

#include <QString>

#include <string>

namespace bmui {

// The message step 1 shows for `path`, or empty when the analysis may try
// it: a readable regular file that starts with a store header whatever its
// name (a copy named .pst or outlook.ost.bak), or one whose name ends in
// "ost" (any case), whose header may be what is damaged.
QString SourceFileProblem(const std::string& path);

}  // namespace bmui
