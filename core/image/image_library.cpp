#include "core/image/image_library.h"

#include <sys/resource.h>
#include <unistd.h>
#include <atomic>
#include <mutex>
#include <thread>

namespace lumiclip {

namespace {

struct Started {
    const ImageLibrary* library = nullptr;
    QString error;
};

std::once_flag g_once;
Started g_started;
// Whether the library has been asked for, here or on the preloading thread.
std::atomic<bool> g_wanted{false};

void startOnce() {
    g_wanted = true;
    std::call_once(g_once, [] {
        QString error;
        const ImageLibrary* library = LoadImageLibrary(&error);
        if (library && !library->start(&error)) {
            library = nullptr;
        }
        if (!library) {
            g_started.error = QStringLiteral("the image library did not start: %1").arg(error);
        }
        g_started.library = library;
    });
}

// The preloading thread, joined when the process ends: after g_started in this file, so it goes first.
struct Preloader {
    Preloader() = default;
    Preloader(const Preloader&) = delete;
    Preloader& operator=(const Preloader&) = delete;
    ~Preloader() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    std::thread thread;
};

Preloader g_preloader;
std::once_flag g_preloadOnce;

}  // namespace

const ImageLibrary* StartedImageLibrary(QString* error) {
    startOnce();
    if (!g_started.library && error) {
        *error = g_started.error;
    }
    return g_started.library;
}

bool EnsureImageLibrary(QString* error) {
    return StartedImageLibrary(error) != nullptr;
}

void PreloadImageLibrary() {
    std::call_once(g_preloadOnce, [] {
        g_wanted = true;
        g_preloader.thread = std::thread([] {
            // Below the browser's start, which is what the first page waits for; the library is
            // wanted only once a page has rendered.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
            startOnce();
        });
    });
}

void ShutDownImageLibrary() {
    // Not loaded for nothing: a program that never asked for the library has none to end.
    if (!g_wanted) {
        return;
    }
    if (const ImageLibrary* library = StartedImageLibrary()) {
        library->shutDown();
    }
}

}  // namespace lumiclip
