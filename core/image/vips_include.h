#pragma once

// The image library pulls in GLib headers that use "signals" as a name, which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <vips/vips8>
#pragma pop_macro("signals")
