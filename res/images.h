// The image files of res/, embedded by the build (see res/CMakeLists.txt).
#pragma once

#include <span>

namespace zeltor_res {
extern const std::span<const unsigned char> kIconData;       // zeltor.ico: 32x32 and 16x16, 32 bpp
extern const std::span<const unsigned char> kBannerData;     // banner.bmp: 529x79, 24 bpp
extern const std::span<const unsigned char> kBackgroundData; // background.bmp: 418x214, 24 bpp
} // namespace zeltor_res
