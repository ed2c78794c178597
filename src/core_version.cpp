#include "core_version.h"

namespace bm {
const char* CoreVersion() { return BRIGHTMEND_VERSION; }
}  // namespace bm
