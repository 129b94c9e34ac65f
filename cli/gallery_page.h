#pragma once

#include "cli/batch_result.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace lumiclip {

// The gallery of a batch: one HTML page, self-contained (its style inline, no script, nothing fetched
// but the images), with each result's image, address, status and error. Image sources are paths
// relative to the gallery file's folder; every text from a page or an address is escaped.
QByteArray GalleryHtml(const QList<BatchResult>& results, const QString& galleryPath, int imageWidth,
                       int imageHeight);

// GalleryHtml written whole or not at all to galleryPath (its folder created when missing).
bool WriteGallery(const QList<BatchResult>& results, const QString& galleryPath, int imageWidth,
                  int imageHeight, QString* error);

}  // namespace lumiclip
