#include "support/test_util.h"

#include "core/image/encoder_table.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTcpServer>
#include <QThread>

#include "core/image/vips_include.h"

namespace lumiclip::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QString sniffImageFormat(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xD8\xFF")) {
        return QStringLiteral("JPEG");
    }
    if (bytes.startsWith("\x89PNG\r\n\x1a\n")) {
        return QStringLiteral("PNG");
    }
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a")) {
        return QStringLiteral("GIF");
    }
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP") {
        return QStringLiteral("WEBP");
    }
    return {};
}

QSize imageFileSize(const QString& path) {
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid() || !EnsureImageLibrary()) {
        return size;
    }
    // Formats Qt reads no header of here (WebP): the image library reads it.
    VipsImage* image = vips_image_new_from_file(QFile::encodeName(path).constData(), nullptr);
    if (!image) {
        vips_error_clear();
        return {};
    }
    const QSize header(vips_image_get_width(image), vips_image_get_height(image));
    g_object_unref(image);
    return header;
}

int countProcessesMatching(const QString& text) {
    int count = 0;
    const QString self = QString::number(QCoreApplication::applicationPid());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : entries) {
        bool isNumber = false;
        pid.toInt(&isNumber);
        if (!isNumber || pid == self) {
            continue;
        }
        QByteArray cmdline = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
        cmdline.replace('\0', ' ');
        if (cmdline.contains(text.toUtf8())) {
            ++count;
        }
    }
    return count;
}

QString refusedUrl() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/nothing-here").arg(port);
}

QStringList manifestArguments(const QByteArray& manifest) {
    QStringList args;
    bool inArgs = false;
    for (const QByteArray& line : manifest.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed == "args:") {
            inArgs = true;
        } else if (inArgs && trimmed.startsWith("- ")) {
            QByteArray value = trimmed.mid(2);
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) {
                value = value.mid(1, value.size() - 2);
            }
            args.append(QString::fromUtf8(value));
        } else if (inArgs) {
            break;
        }
    }
    return args;
}

}  // namespace lumiclip::test
