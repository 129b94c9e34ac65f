#pragma once

// lumiclip-cli on pages built the way real sites are, each made so that one pixel tells the right
// picture from the wrong one: the shot as an image, its JSON line and its messages.
#include "cli_fixture.h"

#include <QColor>
#include <QImage>
#include <QJsonObject>

namespace lumiclip::test {

inline const QStringList kPixels{QStringLiteral("-f"),     QStringLiteral("PNG"),
                                 QStringLiteral("--view"), QStringLiteral("200x150"),
                                 QStringLiteral("--size"), QStringLiteral("200x150")};
inline const QColor kRed(200, 0, 0);
inline const QColor kGreen(0, 160, 0);

class CliRealPages : public CliBrowser {
protected:
    struct Shot {
        int status = -1;
        QImage image;
        QJsonObject line;
        QByteArray err;
        QColor at(int x = 100, int y = 75) const {
            return image.isNull() ? QColor() : image.pixelColor(x, y);
        }
    };
    Shot shoot(const QString& path, const QStringList& flags, bool fullSize = true) {
        return shootUrl(server->url(path), flags, fullSize);
    }
    Shot shootUrl(const QString& url, const QStringList& flags, bool fullSize = true) {
        Shot shot;
        const QString output = dir.filePath(QStringLiteral("real-%1.png").arg(++m_runs));
        QByteArray out;
        shot.status =
            run((fullSize ? kPixels : QStringList{QStringLiteral("-f"), QStringLiteral("PNG")}) + flags +
                    QStringList{QStringLiteral("--json"), QStringLiteral("-o"), output, url},
                &out, &shot.err);
        const QList<QJsonObject> lines = jsonLines(out);
        if (!lines.isEmpty()) {
            shot.line = lines.first();
        }
        shot.image = QImage(output);
        return shot;
    }

private:
    int m_runs = 0;
};

}  // namespace lumiclip::test
