#pragma once

namespace bm {
// The version of the core library, e.g. "0.1.0".
const char* CoreVersion();
}  // namespace bm
