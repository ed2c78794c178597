#include "messaging/rtf_workspace.h"

namespace bm {

RtfWorkspace& RtfWorkspace::Shared() {
    static RtfWorkspace workspace;
    return workspace;
}

}  // namespace bm
