#pragma once

#include <QByteArray>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QImage;
class QPaintDevice;
class QPainter;

namespace lumiclip {

// One decoded picture for the preview pane: the file's own encoded bytes, the decoded image, its pixel
// size and the file's size. Decoding uses Qt's image readers (JPEG, GIF, PNG, ...), chosen by content.
// The natural size is kept in HIMETRIC, taken from the pixel size at 96 dpi.
// Failures are shown in a box captioned "CPicture Error" (stop icon, OK) through widgets/message_box.h.
class CPicture {
public:
    CPicture();
    virtual ~CPicture();
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    // Releases the picture and zeroes the sizes; does nothing when no picture is held.
    void Clear();

    // Clears, reads the whole file and decodes it. Sets m_nSize to the file's length (0 when it cannot
    // be opened; a message names the file error), and m_nWidth/m_nHeight to the pixel size at 96 dpi
    // (0 without a picture). True when a picture was decoded. Empty or undecodable files fail silently.
    bool LoadFromFile(const QString& path);

    // Decodes size bytes into the picture; the sizes are left alone. Bytes that do not decode leave no
    // picture but still return true (callers look at HasPicture()); false with a message when the bytes
    // cannot be taken (size negative, or data null with a positive size).
    bool LoadFromBuffer(const char* data, int size);

    // Recomputes m_nWidth/m_nHeight for the device's logical resolution (96 dpi for a printer or PDF
    // device). Without a device or a picture both become 0 and the result is false; m_nSize is kept.
    bool UpdateSizeForDevice(QPaintDevice* device);

    // Stretches the whole picture into the rectangle at leftTop of extent widthHeight.x + magnifyX x the
    // picture's natural width on the painter's device (likewise for y). Paints nothing else. False,
    // silently, without an active painter or a picture.
    bool Draw(QPainter* painter, QPoint leftTop, QPoint widthHeight, int magnifyX, int magnifyY);

    // Writes the picture's own encoded bytes (as loaded, not re-encoded) to path, atomically: the file is
    // the whole picture or left as it was. False with a message naming the system's reason and the file
    // when the file cannot be written; false, silently, without a picture.
    bool SaveToFile(const QString& path);

    bool HasPicture() const { return m_pPicture != nullptr; }
    const QImage* Image() const { return m_pPicture.get(); }

    // The window that owns the boxes; without one the application's active window does.
    void SetOwnerWindow(QWidget* owner) { m_owner = owner; }

    // Pixel size (see LoadFromFile and UpdateSizeForDevice) and the length of the file last loaded.
    int m_nHeight = 0;
    int m_nSize = 0;
    int m_nWidth = 0;

private:
    void showMessage(const QString& text) const;

    std::unique_ptr<QImage> m_pPicture;
    QByteArray m_encoded;
    int m_himetricWidth = 0;
    int m_himetricHeight = 0;
    QPointer<QWidget> m_owner;
};

}  // namespace lumiclip
