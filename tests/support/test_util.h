#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

namespace lumiclip::test {

// Runs the event loop until the condition holds or the time is up; returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

// "JPEG", "PNG", "GIF", "WEBP" or "" from the file's magic bytes.
QString sniffImageFormat(const QByteArray& bytes);

// The pixel size of an image file, or an invalid size.
QSize imageFileSize(const QString& path);

// Processes whose command line contains this text (other than this process).
int countProcessesMatching(const QString& text);

// An http address on 127.0.0.1 at a port where nothing listens (it was free a moment ago).
QString refusedUrl();
// The items of the first "args:" list of a Kubernetes manifest, quotes taken off.
QStringList manifestArguments(const QByteArray& manifest);

}  // namespace lumiclip::test
