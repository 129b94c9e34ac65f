#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>

#include <functional>

namespace lumiclip {

// Where FitToText puts a control: its window rectangle, the room its border takes, the size of its text
// and its alignment (AlignHCenter centres, AlignRight keeps the right edge, otherwise the left edge
// stays; AlignVCenter centres vertically, otherwise the top stays). Centring moves each edge by half the
// difference, truncated toward zero, so an odd difference leaves one pixel more than needed.
QRect FitRectToText(const QRect& window, const QSize& border, const QSize& text, Qt::Alignment alignment);

// A static text of a dialog that behaves as a web link: link, visited and hover colours, a hand cursor,
// a tooltip with the address, a size fitted to its text, and on a click the address opened on the
// desktop (see OpenLinkAddress), with a message box when that fails.
//
// The dialog creates its text item as usual and then attaches the link to it, either by building this
// label in its place and calling Attach(), or with SubclassDlgItem() on an existing label.
class CHyperLinkStatic final : public QLabel {
    Q_OBJECT

public:
    enum UnderlineMode { UnderlineOnHover = -1, UnderlineNever = 0, UnderlineAlways = 1 };

    explicit CHyperLinkStatic(QWidget* parent = nullptr);
    ~CHyperLinkStatic() override;
    Q_DISABLE_COPY_MOVE(CHyperLinkStatic)

    // Takes the place of an existing label of a dialog (parent, geometry, text, font, alignment, frame,
    // object name), deletes it and attaches.
    void SubclassDlgItem(QLabel* item);

    // Attaches to this label as it stands: an empty link takes the caption, an empty caption the link;
    // the fonts, the cursor and the tooltip's area are fixed here. Runs once.
    void Attach();
    bool IsAttached() const { return m_attached; }

    void SetLink(QString link);
    QString Link() const { return m_strLink; }
    void SetVisited(bool visited);
    bool IsVisited() const { return m_bVisited; }
    void SetUnderlineMode(int mode);
    int UnderlineMode() const { return m_nUnderlineMode; }

    bool IsHovering() const { return m_bHovering; }
    bool IsHoverTimerActive() const { return m_hoverTimer.isActive(); }
    // The colour the text is drawn in now: hover, else visited, else link.
    QColor TextColor() const;
    // The area that shows the tooltip: the control's rectangle when it was attached.
    QRect ToolRect() const { return m_toolRect; }
    QString ToolTipText() const { return m_toolTipText; }

    // Opens the link as a click does: success turns the link visited, failure beeps and explains.
    void OnClicked();

    // The pointer position in global coordinates used by the hover timer; tests replace it.
    void SetPointerLocator(std::function<QPoint()> locator);

    static constexpr int kHoverIntervalMs = 100;

protected:
    bool event(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void FitToText();
    void LoadHandCursor();
    void OnTimer();
    void ShowOpenError(int code);
    void ApplyTextColor();

    const QColor m_crLink{0, 0, 238};
    const QColor m_crVisited{85, 26, 139};
    const QColor m_crHover{255, 0, 0};
    bool m_bHovering = false;
    bool m_bVisited = false;
    int m_nUnderlineMode = UnderlineOnHover;
    bool m_bAutoSize = true;
    QString m_strLink;
    QFont m_fontUnderlined;
    QFont m_fontPlain;
    bool m_hasHandCursor = false;
    QRect m_toolRect;
    QString m_toolTipText;
    QTimer m_hoverTimer;
    bool m_attached = false;
    bool m_pressed = false;
    std::function<QPoint()> m_pointerLocator;
};

}  // namespace lumiclip
