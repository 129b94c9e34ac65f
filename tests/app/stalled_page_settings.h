#pragma once

#include "support/test_http_server.h"
#include "support/test_util.h"

#include <QTemporaryDir>

namespace lumiclip::test {

// A settings file in a folder of its own whose address is a local page that never finishes loading,
// so that a capture started from it is still waiting whenever the test acts.
struct StalledPageSettings {
    StalledPageSettings() {
        HttpResponse stall;
        stall.stall = true;
        server.route(QStringLiteral("/stall"), stall);
        written =
            writeFile(ini, "[capture]\ndefault_url=" + server.url(QStringLiteral("/stall")).toUtf8() +
                               "\ndefault_file=" + dir.filePath(QStringLiteral("shot")).toUtf8() + "\n");
    }

    TestHttpServer server;
    QTemporaryDir dir;
    QString ini = dir.filePath(QStringLiteral("Lumiclip.ini"));
    bool written = false;
};

}  // namespace lumiclip::test
