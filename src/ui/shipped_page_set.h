// The pages this wizard ships (compiled into its resources), in the form the
// engine installs into the application directory at first start.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "engine/shipped_pages.h"

namespace bmui {

class ShippedPageSet {
public:
    ShippedPageSet();  // reads every page from the resources
    std::span<const bm::ShippedPage> pages() const { return pages_; }

private:
    std::vector<std::string> contents_;
    std::vector<bm::ShippedPage> pages_;
};

// Makes the resources of this library available (it is a static library).
void InitUiResources();

}  // namespace bmui
