// The step picture at the top of a page: the step bitmap from the
// application directory when it exists, otherwise a drawn banner.
#pragma once

#include <filesystem>
#include <string_view>

class QWidget;

namespace bmui {

inline constexpr std::string_view kStep1Picture = "Step1.bmp";
inline constexpr std::string_view kStep2Picture = "Step2.bmp";
inline constexpr std::string_view kStep5Picture = "Step5.bmp";

QWidget* MakeStepPicture(QWidget* parent, const std::filesystem::path& bitmap, int step);

}  // namespace bmui
