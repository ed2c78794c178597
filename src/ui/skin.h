// Window skins: a bitmap from the application directory painted as the
// window's background, the window's shape cut out where the bitmap holds
// the key colour (pure green, each channel within 17). Without the file
// the window keeps its plain, rectangular look.
#pragma once

#include <QBitmap>
#include <QImage>

#include <filesystem>
#include <string_view>

class QWidget;

namespace bmui {

inline constexpr std::string_view kSkinStep1 = "BrightmendSkin1.bmp";
inline constexpr std::string_view kSkinAnalysis = "BrightmendSkin2.bmp";
inline constexpr std::string_view kSkinMessage = "msgskin.bmp";
inline constexpr std::string_view kSkinSearch = "msgskinsearch.bmp";

// Whether a pixel is cut out of the window.
bool IsKeyColour(QRgb pixel);
// The window region of a skin: set bits are kept.
QBitmap SkinMask(const QImage& skin);
// Applies the skin when the file can be read; false otherwise.
bool ApplySkin(QWidget& window, const std::filesystem::path& bitmap);

}  // namespace bmui
