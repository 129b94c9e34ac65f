#include "widgets/hyperlink_static.h"

#include "widgets/message_box.h"
#include "widgets/link_open.h"

#include <QCursor>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QToolTip>

#include <utility>

namespace lumiclip {

QRect FitRectToText(const QRect& window, const QSize& border, const QSize& text, Qt::Alignment alignment) {
    const int fittedWidth = text.width() + border.width();
    const int fittedHeight = text.height() + border.height();
    int x = window.x();
    int y = window.y();
    int width = fittedWidth;
    int height = fittedHeight;
    if (alignment & Qt::AlignVCenter) {
        const int d = (window.height() - fittedHeight) / 2;
        y = window.y() + d;
        height = window.height() - 2 * d;
    }
    if (alignment & Qt::AlignHCenter) {
        const int d = (window.width() - fittedWidth) / 2;
        x = window.x() + d;
        width = window.width() - 2 * d;
    } else if (alignment & Qt::AlignRight) {
        x = window.x() + window.width() - fittedWidth;
    }
    return QRect(x, y, width, height);
}

CHyperLinkStatic::CHyperLinkStatic(QWidget* parent) : QLabel(parent) {
    m_hoverTimer.setInterval(kHoverIntervalMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CHyperLinkStatic::OnTimer);
    m_pointerLocator = [] { return QCursor::pos(); };
}

CHyperLinkStatic::~CHyperLinkStatic() {
    m_hoverTimer.stop();
}

void CHyperLinkStatic::SubclassDlgItem(QLabel* item) {
    if (item == nullptr || item == this) {
        Attach();
        return;
    }
    setParent(item->parentWidget());
    setObjectName(item->objectName());
    setGeometry(item->geometry());
    setFont(item->font());
    setAlignment(item->alignment());
    setFrameStyle(item->frameStyle());
    setLineWidth(item->lineWidth());
    setText(item->text());
    setVisible(!item->isHidden());
    stackUnder(item);
    delete item;
    Attach();
}

void CHyperLinkStatic::Attach() {
    if (m_attached) {
        return;
    }
    // The caption is shown as it is, never as markup.
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(false);
    setMouseTracking(true);
    if (m_strLink.isEmpty()) {
        m_strLink = text();
    }
    if (text().isEmpty()) {
        setText(m_strLink);
    }
    m_fontPlain = font();
    m_fontPlain.setUnderline(false);
    m_fontUnderlined = font();
    m_fontUnderlined.setUnderline(true);
    m_attached = true;
    FitToText();
    LoadHandCursor();
    SetUnderlineMode(UnderlineOnHover);
    m_toolRect = rect();
    m_toolTipText = m_strLink;
    setToolTip(m_toolTipText);
    ApplyTextColor();
}

void CHyperLinkStatic::SetLink(QString link) {
    m_strLink = std::move(link);
    if (m_attached) {
        FitToText();
        m_toolTipText = m_strLink;
        setToolTip(m_toolTipText);
    }
}

void CHyperLinkStatic::SetVisited(bool visited) {
    m_bVisited = visited;
    if (m_attached) {
        ApplyTextColor();
        update();
    }
}

void CHyperLinkStatic::SetUnderlineMode(int mode) {
    if (mode == m_nUnderlineMode) {
        return;
    }
    if (m_attached) {
        setFont(mode == UnderlineAlways ? m_fontUnderlined : m_fontPlain);
        update();
    }
    m_nUnderlineMode = mode;
}

QColor CHyperLinkStatic::TextColor() const {
    if (m_bHovering) {
        return m_crHover;
    }
    return m_bVisited ? m_crVisited : m_crLink;
}

void CHyperLinkStatic::SetPointerLocator(std::function<QPoint()> locator) {
    m_pointerLocator = std::move(locator);
}

void CHyperLinkStatic::ApplyTextColor() {
    const QColor color = TextColor();
    if (palette().color(QPalette::WindowText) == color) {
        return;
    }
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

void CHyperLinkStatic::FitToText() {
    if (!m_attached || !m_bAutoSize) {
        return;
    }
    const QFontMetrics metrics(m_fontUnderlined);
    const QSize textSize(metrics.horizontalAdvance(text()), metrics.height());
    const QRect client = contentsRect();
    const QSize border(width() - client.width(), height() - client.height());
    setGeometry(FitRectToText(geometry(), border, textSize, alignment()));
}

void CHyperLinkStatic::LoadHandCursor() {
    if (m_hasHandCursor) {
        return;
    }
    setCursor(Qt::PointingHandCursor);
    m_hasHandCursor = true;
}

bool CHyperLinkStatic::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip && m_attached) {
        // The tooltip belongs to the area the control had when attached, not to its later size.
        auto* help = static_cast<QHelpEvent*>(e);
        if (m_toolRect.contains(help->pos()) && !m_toolTipText.isEmpty()) {
            QToolTip::showText(help->globalPos(), m_toolTipText, this, m_toolRect);
        } else {
            QToolTip::hideText();
            e->ignore();
        }
        return true;
    }
    return QLabel::event(e);
}

void CHyperLinkStatic::mouseMoveEvent(QMouseEvent* e) {
    if (m_attached && !m_bHovering) {
        m_bHovering = true;
        if (m_nUnderlineMode == UnderlineOnHover) {
            setFont(m_fontUnderlined);
        }
        ApplyTextColor();
        update();
        m_hoverTimer.start();
    }
    QLabel::mouseMoveEvent(e);
}

void CHyperLinkStatic::OnTimer() {
    const QPoint local = mapFromGlobal(m_pointerLocator ? m_pointerLocator() : QCursor::pos());
    if (!rect().contains(local)) {
        m_bHovering = false;
        m_hoverTimer.stop();
        if (m_nUnderlineMode != UnderlineAlways && font() != m_fontPlain) {
            setFont(m_fontPlain);
        }
        ApplyTextColor();
        update();
    }
}

void CHyperLinkStatic::mousePressEvent(QMouseEvent* e) {
    m_pressed = m_attached && e->button() == Qt::LeftButton;
    QLabel::mousePressEvent(e);
}

void CHyperLinkStatic::mouseReleaseEvent(QMouseEvent* e) {
    const bool click = m_pressed && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(e);
    if (click) {
        OnClicked();
    }
}

void CHyperLinkStatic::OnClicked() {
    // A running hover timer is left to end the hover when the pointer goes.
    m_bHovering = false;
    const int result = OpenLinkAddress(m_strLink);
    m_bVisited = result > 32;
    ApplyTextColor();
    if (result <= 32) {
        const LinkOpenServices& services = CurrentLinkOpenServices();
        if (services.beep) {
            services.beep();
        }
        ShowOpenError(result);
    } else {
        SetVisited(true);
    }
}

void CHyperLinkStatic::ShowOpenError(int code) {
    AppMessageBox(QStringLiteral("Unable to open hyperlink:\n\n") + OpenErrorText(code), MessageIcon::Warning,
                  MessageButtons::Ok, window());
}

}  // namespace lumiclip
