#pragma once

#include "core/image/image_library.h"

namespace lumiclip {

// The image library's calls, made with libvips.
const ImageLibrary& VipsImageLibrary();

}  // namespace lumiclip
