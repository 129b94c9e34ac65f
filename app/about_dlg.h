#pragma once

#include "widgets/hyperlink_static.h"

#include <QDialog>
#include <QHash>

class QWidget;

namespace lumiclip {

// The about box: product and version, a legal notice, the maker's home page as a link and the support
// address as plain text, laid out from its template in dialog units. Run it with exec().
class CAboutDlg final : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CAboutDlg)

    // The template's item with this identifier (1023 version line, 1027 link, 1028 support line, 1 OK).
    QWidget* Item(int id) const { return m_items.value(id); }
    CHyperLinkStatic& HomeLink() { return m_linkHome; }

    // The template's size and items, in dialog units.
    static QRect TemplateRect(int id);
    static constexpr int kTemplateWidth = 256;
    static constexpr int kTemplateHeight = 91;

private:
    void OnInitDialog();

    CHyperLinkStatic m_linkHome;
    QHash<int, QWidget*> m_items;
};

}  // namespace lumiclip
