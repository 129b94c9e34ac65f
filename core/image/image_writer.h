#pragma once

#include "core/capture/capture_options.h"
#include "core/image/encoder_table.h"

#include <QByteArray>
#include <QSize>
#include <QString>

namespace lumiclip {

// The image step of a capture: the page's rendering is drawn at the origin of a white raster, the raster
// is scaled to the options' image size (each axis on its own; a side of 0 keeps the raster's proportions)
// and encoded with the encoder, at the options' quality when the format has one. The raster of the view
// is the view's size in device pixels (view x scale factor), whatever part the rendering covers; that of
// a full page or an element is the rendering's own size. Returns the encoded bytes, with the image's size
// in *imageSize when given, or empty with *error set.
QByteArray EncodeViewImage(const QByteArray& renderingPng, const CaptureOptions& options,
                           const EncoderId& encoder, QString* error, QSize* imageSize = nullptr);

// Writes bytes to path so that the file is either the whole new image or untouched: a temporary file in
// the same folder, renamed over the target; on any failure the temporary file goes. The error names the
// path and the system's reason ("cannot write <path>: No space left on device").
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);

// The same write for callers that word their own message: 0 when the file was written, else the errno
// of the call that failed (ENOSPC for a full disk, EROFS, EACCES, ...).
int WriteFileAtomicallyErrno(const QString& path, const QByteArray& bytes);

// EncodeViewImage, then WriteFileAtomically to the options' output path.
bool WriteViewImage(const QByteArray& renderingPng, const CaptureOptions& options, const EncoderId& encoder,
                    QString* error, QSize* imageSize = nullptr);

}  // namespace lumiclip
