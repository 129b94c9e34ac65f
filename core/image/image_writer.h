#pragma once

#include "core/capture/capture_options.h"
#include "core/image/encoder_table.h"

#include <QByteArray>
#include <QString>

namespace lumiclip {

// The image step of a capture: the page's rendering is drawn at the origin of a white raster of the
// options' view size, the raster is scaled to exactly their image size (each axis on its own) and
// encoded with the encoder. Returns the encoded bytes, or empty with *error set.
QByteArray EncodeViewImage(const QByteArray& renderingPng, const CaptureOptions& options,
                           const EncoderId& encoder, QString* error);

// Writes bytes to path so that the file is either the whole new image or untouched: a temporary file in
// the same folder, renamed over the target; on any failure the temporary file goes. The error names the
// path and the system's reason ("cannot write <path>: No space left on device").
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error);

// The same write for callers that word their own message: 0 when the file was written, else the errno
// of the call that failed (ENOSPC for a full disk, EROFS, EACCES, ...).
int WriteFileAtomicallyErrno(const QString& path, const QByteArray& bytes);

// EncodeViewImage, then WriteFileAtomically to the options' output path.
bool WriteViewImage(const QByteArray& renderingPng, const CaptureOptions& options, const EncoderId& encoder,
                    QString* error);

}  // namespace lumiclip
