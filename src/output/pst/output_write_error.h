// A write of an output store that did not reach the file: the disk is full,
// the file grew past what the system allows, or the device failed. The file
// is then unfinished, and the store writer takes nothing more.
#pragma once

#include <stdexcept>

namespace bm::pst {

class OutputWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace bm::pst
