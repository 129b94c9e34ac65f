#pragma once

#include "core/image/encoder_table.h"

#include <QByteArray>
#include <QString>

namespace lumiclip {

// What a write does with a symbolic link at the path's last component.
enum class LinkRule {
    // A path the user named: the file the link points at is replaced, as an editor would. In a folder
    // that others may write and that has the sticky bit (/tmp), a link that belongs to somebody else
    // than the writer and the folder's owner is refused with EACCES, as the system's own
    // protected-links rule refuses it to open().
    Follow,
    // A name the program made inside a folder (from an address): the link itself is replaced and what
    // it points at is never touched, so that nobody who can write to the folder can send the image
    // elsewhere.
    Replace,
};

// Writes bytes to path so that the file is either the whole new image or untouched: a temporary file in
// the same folder, renamed over the target; on any failure the temporary file goes. A path that exists
// and is neither a regular file nor a folder (a device such as /dev/null, a FIFO) is written into as it
// is, never replaced. The error names the path and the system's reason ("cannot write <path>: No space
// left on device").
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error,
                         LinkRule links = LinkRule::Follow);

// The same write for callers that word their own message: 0 when the file was written, else the errno
// of the call that failed (ENOSPC for a full disk, EROFS, EACCES, ...).
int WriteFileAtomicallyErrno(const QString& path, const QByteArray& bytes, LinkRule links = LinkRule::Follow);

// Writes all of it to the descriptor, through short writes and interruptions; false with errno set.
bool WriteAllBytes(int fd, const char* data, qsizetype size);

}  // namespace lumiclip
