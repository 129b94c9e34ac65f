// The image library of a program that has it linked in.
#include "core/image/image_library.h"
#include "core/image/vips_image_library.h"

namespace lumiclip {

const ImageLibrary* LoadImageLibrary(QString* /*error*/) {
    return &VipsImageLibrary();
}

}  // namespace lumiclip
