#include "ui/save_destination.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "ui/ui_texts.h"

namespace bmui {

QString UnwritableFolder(const std::filesystem::path& folder, bool make) {
    std::error_code ec;
    if (make) std::filesystem::create_directories(folder, ec);
    int error = ec ? ec.value() : 0;
    if (error == 0 && ::access(folder.c_str(), W_OK | X_OK) != 0) error = errno;
    if (error == 0) return {};
    return Text(kDestinationNotWritable)
        .arg(QString::fromStdString(folder.string()), QString::fromLocal8Bit(std::strerror(error)));
}

}  // namespace bmui
