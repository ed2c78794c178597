// Whether a new store can be written into a folder, said the same way by
// every save the wizard makes (one store from the analysis page, or every
// store the search page found).
#pragma once

#include <QString>

#include <filesystem>

namespace bmui {

// Why the new store cannot be written into `folder` (made first when
// `make`); empty when it can.
QString UnwritableFolder(const std::filesystem::path& folder, bool make);

}  // namespace bmui
