#include "core/image/image_module.h"

#include "core/image/vips_image_library.h"

extern "C" __attribute__((visibility("default"))) const lumiclip::ImageLibrary* lumiclip_image_library_v1() {
    return &lumiclip::VipsImageLibrary();
}
