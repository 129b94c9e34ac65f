#pragma once

#include <QByteArray>

namespace lumiclip {

// The two values of a version file, as bytes (UTF-8 on this system).
struct VersionFileInfo {
    QByteArray version;
    QByteArray fileName;
};

}  // namespace lumiclip
