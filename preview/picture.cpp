#include "preview/picture.h"

#include "core/image/image_writer.h"
#include "core/preview/mul_div.h"
#include "widgets/message_box.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPagedPaintDevice>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace lumiclip {

namespace {

// Pictures are measured at this resolution after loading, and on printing devices.
constexpr int kReferenceDpi = 96;
// The longest message text a box shows.
constexpr qsizetype kMessageLimit = 255;

QString allocationText() {
    return QStringLiteral("Can not allocate enough memory\t");
}

QString fileErrorText(const QString& reason, const QString& path) {
    QString text = QStringLiteral("%1: %2").arg(reason, QDir::toNativeSeparators(path));
    if (text.size() > kMessageLimit) {
        qsizetype cut = kMessageLimit;
        if (text.at(cut - 1).isHighSurrogate()) {
            --cut;
        }
        text.truncate(cut);
    }
    return text;
}

bool isPrintingDevice(const QPaintDevice& device) {
    // Printers and PDF writers are paged devices.
    return device.devType() == QInternal::Printer ||
           dynamic_cast<const QPagedPaintDevice*>(&device) != nullptr;
}

int clampToInt(qint64 v) {
    return static_cast<int>(std::clamp<qint64>(v, INT_MIN, INT_MAX));
}

}  // namespace

CPicture::CPicture() = default;

CPicture::~CPicture() {
    if (m_pPicture) {
        Clear();
    }
}

void CPicture::Clear() {
    if (!m_pPicture) {
        return;
    }
    m_pPicture.reset();
    m_encoded.clear();
    m_himetricWidth = 0;
    m_himetricHeight = 0;
    m_nHeight = 0;
    m_nSize = 0;
    m_nWidth = 0;
}

bool CPicture::LoadFromFile(const QString& path) {
    Clear();
    bool result = false;
    int lengthTaken = 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(fileErrorText(file.errorString(), path));
    } else {
        const qint64 length = file.size();
        if (length > INT_MAX) {
            showMessage(allocationText());
        } else {
            lengthTaken = static_cast<int>(length);
            // Only what was actually read is decoded: a file that shrank meanwhile gives a short read.
            const QByteArray bytes = length > 0 ? file.read(length) : QByteArray();
            if (!bytes.isEmpty()) {
                result = LoadFromBuffer(bytes.constData(), static_cast<int>(bytes.size()));
            }
        }
    }
    m_nSize = lengthTaken;
    if (m_pPicture) {
        m_nHeight = MulDiv(m_himetricHeight, kReferenceDpi, kHimetricPerInch);
        m_nWidth = MulDiv(m_himetricWidth, kReferenceDpi, kHimetricPerInch);
        return result;
    }
    m_nHeight = 0;
    m_nWidth = 0;
    return false;
}

bool CPicture::LoadFromBuffer(const char* data, int size) {
    if (size < 0 || (data == nullptr && size > 0)) {
        showMessage(allocationText());
        return false;
    }
    QByteArray bytes(data, size);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    QImage image = reader.read();
    buffer.close();
    if (image.isNull()) {
        // The decoder rejected the bytes: no picture, which callers see through HasPicture().
        m_pPicture.reset();
        m_encoded.clear();
        m_himetricWidth = 0;
        m_himetricHeight = 0;
        return true;
    }
    m_himetricWidth = MulDiv(image.width(), kHimetricPerInch, kReferenceDpi);
    m_himetricHeight = MulDiv(image.height(), kHimetricPerInch, kReferenceDpi);
    m_pPicture = std::make_unique<QImage>(std::move(image));
    m_encoded = std::move(bytes);
    return true;
}

bool CPicture::UpdateSizeForDevice(QPaintDevice* device) {
    if (device == nullptr || !m_pPicture) {
        m_nHeight = 0;
        m_nWidth = 0;
        return false;
    }
    int dpiX = kReferenceDpi;
    int dpiY = kReferenceDpi;
    if (!isPrintingDevice(*device)) {
        dpiX = device->logicalDpiX();
        dpiY = device->logicalDpiY();
    }
    m_nHeight = MulDiv(m_himetricHeight, dpiY, kHimetricPerInch);
    m_nWidth = MulDiv(m_himetricWidth, dpiX, kHimetricPerInch);
    return true;
}

bool CPicture::Draw(QPainter* painter, QPoint leftTop, QPoint widthHeight, int magnifyX, int magnifyY) {
    if (painter == nullptr || !painter->isActive() || !m_pPicture) {
        return false;
    }
    const QPaintDevice* device = painter->device();
    const int pxW = MulDiv(m_himetricWidth, device->logicalDpiX(), kHimetricPerInch);
    const int pxH = MulDiv(m_himetricHeight, device->logicalDpiY(), kHimetricPerInch);
    const int cx = clampToInt(static_cast<qint64>(widthHeight.x()) + static_cast<qint64>(magnifyX) * pxW);
    const int cy = clampToInt(static_cast<qint64>(widthHeight.y()) + static_cast<qint64>(magnifyY) * pxH);
    if (cx == 0 || cy == 0 || m_pPicture->isNull()) {
        return true;
    }
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (cx > 0 && cy > 0) {
        painter->drawImage(QRectF(leftTop.x(), leftTop.y(), cx, cy), *m_pPicture);
    } else {
        // A negative extent mirrors the picture about the start point along that axis.
        painter->translate(leftTop.x(), leftTop.y());
        painter->scale(cx < 0 ? -1.0 : 1.0, cy < 0 ? -1.0 : 1.0);
        painter->drawImage(QRectF(0, 0, std::abs(static_cast<double>(cx)), std::abs(static_cast<double>(cy))),
                           *m_pPicture);
    }
    painter->restore();
    return true;
}

bool CPicture::SaveToFile(const QString& path) {
    if (!m_pPicture) {
        return false;
    }
    // Not QSaveFile: it reports a full disk as "Unknown error". The engine's writer keeps the same
    // all-or-nothing rule and gives the errno of the call that failed.
    const int code = WriteFileAtomicallyErrno(path, m_encoded);
    if (code != 0) {
        showMessage(fileErrorText(QString::fromLocal8Bit(std::strerror(code)), path));
        return false;
    }
    return true;
}

void CPicture::showMessage(const QString& text) const {
    MessageBoxRequest request;
    request.caption = QStringLiteral("CPicture Error");
    request.text = text;
    request.icon = MessageIcon::Stop;
    request.buttons = MessageButtons::Ok;
    QWidget* owner = m_owner.data();
    if (owner == nullptr) {
        owner = QApplication::activeWindow();
    }
    request.owner = owner;
    ShowMessageBox(request);
}

}  // namespace lumiclip
