#pragma once

// The image library's module: a shared object that holds the library's calls and everything they
// depend on. Its one exported function gives the table.
#define LUMICLIP_IMAGE_MODULE_ENTRY "lumiclip_image_library_v1"

namespace lumiclip {
struct ImageLibrary;
}

extern "C" {
using LumiclipImageModuleEntry = const lumiclip::ImageLibrary* (*)();
}
