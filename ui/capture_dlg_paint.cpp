// The preview pane's paint step and the file information beside it.
#include "core/preview/preview_fit.h"
#include "ui/capture_dlg.h"

#include <QPainter>

namespace lumiclip {

void CCaptureDlg::PaintPreview(QWidget* pane) {
    if (!m_bPictureLoaded) {
        return;
    }
    QPainter painter(pane);
    m_picture.UpdateSizeForDevice(pane);
    const QSize fitted = FitPreviewSize(m_picture.m_nWidth, m_picture.m_nHeight);
    m_picture.Draw(&painter, QPoint(0, 0), QPoint(fitted.width(), fitted.height()), 0, 0);
    m_lastDrawnSize = fitted;
    // The picture's own size on the pane's device, not the fitted one; the format is the current
    // setting. Unchanged texts cause no further repaint.
    SetItemText(IDC_PATH, m_strOutputPath);
    SetItemText(IDC_WIDTH, QString::asprintf("%d ", m_picture.m_nWidth) + QString::fromUtf8("像素"));
    SetItemText(IDC_HEIGHT, QString::asprintf("%d ", m_picture.m_nHeight) + QString::fromUtf8("像素"));
    SetItemText(IDC_SIZE,
                QString::asprintf("%ld ", static_cast<long>(m_picture.m_nSize)) + QString::fromUtf8("字节"));
    SetItemText(IDC_FORMAT, m_settings.img_format);
}

}  // namespace lumiclip
