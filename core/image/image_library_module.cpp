// The image library of a program that loads it from its module when it first wants it: the module
// lies at LUMICLIP_IMAGE_MODULE, relative to the program's folder, installed as in the build tree.
#include "core/image/image_library.h"
#include "core/image/image_module.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>
#include <unistd.h>
#include <array>

namespace lumiclip {

namespace {

// The folder of the running program, from /proc (safe on any thread, before any Qt object).
QString programFolder() {
    std::array<char, 4096> path{};
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) {
        return QStringLiteral(".");
    }
    const QString program = QFile::decodeName(QByteArray(path.data(), length));
    return program.left(program.lastIndexOf(QLatin1Char('/')));
}

}  // namespace

const ImageLibrary* LoadImageLibrary(QString* error) {
    const QString module = QDir::cleanPath(programFolder() + QStringLiteral("/" LUMICLIP_IMAGE_MODULE));
    // Never unloaded: the library keeps threads and types of its own until the process ends.
    void* handle = ::dlopen(QFile::encodeName(module).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        *error = QString::fromLocal8Bit(::dlerror());  // names the module and why it did not load
        return nullptr;
    }
    const auto entry =
        reinterpret_cast<LumiclipImageModuleEntry>(::dlsym(handle, LUMICLIP_IMAGE_MODULE_ENTRY));
    const ImageLibrary* library = entry ? entry() : nullptr;
    if (!library) {
        *error = QStringLiteral("%1 is not Lumiclip's image module (no %2)")
                     .arg(module, QStringLiteral(LUMICLIP_IMAGE_MODULE_ENTRY));
        return nullptr;
    }
    return library;
}

}  // namespace lumiclip
