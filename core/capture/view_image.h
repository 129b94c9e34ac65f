#pragma once

#include "core/capture/capture_request.h"
#include "core/image/encoder_table.h"

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

namespace lumiclip {

// The image step of a capture: the page's rendering is drawn at the origin of a white raster, the raster
// is scaled to the options' image size (each axis on its own; a side of 0 keeps the raster's proportions)
// and encoded with the encoder, at the options' quality when the format has one. The raster of the view
// is the view's size in device pixels (view x scale factor), whatever part the rendering covers; that of
// a full page or an element is the rendering's own size, with the renderings below it (the bands of a
// page taller than one screenshot) joined under it. Returns the encoded bytes, with the image's size in
// *imageSize when given, or empty with *error set.
QByteArray EncodeViewImage(const QByteArray& renderingPng, const CaptureRequest& options,
                           const EncoderId& encoder, QString* error, QSize* imageSize = nullptr,
                           const QList<QByteArray>& below = {});

// EncodeViewImage, then WriteFileAtomically to the options' output path (a link there replaced rather
// than followed when the program made the name).
bool WriteViewImage(const QByteArray& renderingPng, const CaptureRequest& options, const EncoderId& encoder,
                    QString* error, QSize* imageSize = nullptr);

}  // namespace lumiclip
