#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

#include <functional>

namespace lumiclip {

// What the image step asks of the image library: the rendering drawn at the origin of a white raster,
// scaled to exactly the image size and encoded by a saver.
struct ImageStepRequest {
    // The browser's PNG; may be empty when the raster has a size (the view of a page that drew nothing).
    QByteArray rendering;
    // Renderings joined under it, in order, each as wide (the bands of a page taller than one
    // screenshot); the raster is then as high as all of them.
    QList<QByteArray> below;
    // The white raster's size in pixels; empty: the rendering's own size.
    QSize raster;
    // The image size for the raster's size (each axis on its own, or keeping proportions).
    std::function<QSize(QSize raster)> imageSizeFor;
    // The library's saver by name, and its quality (0: the saver takes none or its default).
    QByteArray saver;
    int quality = 0;
};

// The image library behind the engine, as a table of calls, so that a program can have it linked in or
// load it when it wants it (lumiclip-cli loads it on a thread while the browser starts: the library and
// what it depends on take longer to load than the rest of the program).
struct ImageLibrary {
    // Starts the library; false with the reason. Called once per process.
    bool (*start)(QString* error);
    // Whether the library has a saver of that name.
    bool (*hasSaver)(const char* saver);
    // The image step: the encoded bytes with the image's size in *imageSize, or empty with *error set.
    QByteArray (*encode)(const ImageStepRequest& request, QSize* imageSize, QString* error);
    // Ends the library; it cannot be started again in this process.
    void (*shutDown)();
};

// The program's image library: linked in (image_library_linked.cpp) or loaded from its module
// (image_library_module.cpp); each program links one of the two. Null with *error when it cannot be had.
const ImageLibrary* LoadImageLibrary(QString* error);

// The process's image library, loaded and started at the first call; null with *error (naming the
// cause) when it cannot be loaded or started. Safe from any thread.
const ImageLibrary* StartedImageLibrary(QString* error = nullptr);

// Whether the image library has started; false with the reason.
bool EnsureImageLibrary(QString* error = nullptr);

// Loads and starts the image library on a thread of its own, so that a later StartedImageLibrary waits
// only for what is left of it. At most once per process; the thread is joined at exit.
void PreloadImageLibrary();

// Ends the image library, once its start (on the preloading thread too) is over, and with it the
// library's worker threads; nothing when the program never asked for it. It cannot be started again in
// this process. Called when nothing is using the library any more.
void ShutDownImageLibrary();

}  // namespace lumiclip
