// What the wizard's first step checks of the chosen store file before the
// analysis opens it: that it is there, is a regular file that can be read,
// and starts with a store header whatever its name (a copy named .pst or
// outlook.ost.bak), unless its name ends in "ost" (any case), whose header
// may be what is damaged.
#pragma once

#include <string>

namespace bm {

struct SourceFileCheck {
    enum class Verdict {
        MayBeTried,      // the analysis may try it
        NotAStore,       // no store header, and not named as an offline store (or no path)
        NotARegularFile, // a directory, a device, a pipe...: `what` says which
        Unreadable,      // cannot be opened or read: `error` is the errno
    };
    Verdict verdict = Verdict::MayBeTried;
    std::string what;
    int error = 0;
};

SourceFileCheck CheckSourceFile(const std::string& path);

}  // namespace bm
