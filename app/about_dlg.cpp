#include "app/about_dlg.h"

#include "widgets/dialog_units.h"
#include "widgets/maker_links.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace lumiclip {

namespace {

constexpr int kIdVersion = 1023;
constexpr int kIdHomeLink = 1027;
constexpr int kIdSupport = 1028;
constexpr int kIdNotice = -2;  // the template's unnamed statics, told apart here
constexpr int kIdSunken = -3;

}  // namespace

QRect CAboutDlg::TemplateRect(int id) {
    switch (id) {
        case kIdVersion:
            return {18, 13, 149, 8};
        case kIdNotice:
            return {18, 28, 119, 8};
        case 1:
            return {199, 7, 50, 14};
        case kIdHomeLink:
            return {18, 43, 177, 11};
        case kIdSunken:
            return {18, 72, 222, 15};
        case kIdSupport:
            return {18, 57, 177, 11};
        default:
            return {0, 0, kTemplateWidth, kTemplateHeight};
    }
}

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    const QFont font = DialogFont();
    setFont(font);
    setWindowTitle(QStringLiteral("About Lumiclip"));
    setFixedSize(DialogRectToPixels(TemplateRect(0), font).size());

    auto addLabel = [&](int id, const QString& text) {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(DialogRectToPixels(TemplateRect(id), font));
        m_items.insert(id, label);
        return label;
    };
    addLabel(kIdVersion, QStringLiteral("Ombrix Lumiclip Version Beta1.0"));
    addLabel(kIdNotice, QString::fromUtf8("版权所有 (C) 2026 Ombrix，免费使用"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(DialogRectToPixels(TemplateRect(1), font));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    m_items.insert(1, ok);
    // The link item: built in place from its template and attached at once.
    m_linkHome.setParent(this);
    m_linkHome.setText(QLatin1String(kMakerHomePage));
    m_linkHome.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_linkHome.setGeometry(DialogRectToPixels(TemplateRect(kIdHomeLink), font));
    m_linkHome.Attach();
    m_items.insert(kIdHomeLink, &m_linkHome);
    auto* sunken = new QFrame(this);
    sunken->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    sunken->setLineWidth(1);
    sunken->setGeometry(DialogRectToPixels(TemplateRect(kIdSunken), font));
    m_items.insert(kIdSunken, sunken);
    addLabel(kIdSupport, QStringLiteral("Support: ") + QLatin1String(kSupportEmail));
    ok->setFocus();
    OnInitDialog();
}

void CAboutDlg::OnInitDialog() {
    static_cast<QLabel*>(m_items.value(kIdVersion))
        ->setText(QStringLiteral("Ombrix Lumiclip ") + QStringLiteral(LUMICLIP_VERSION));
    m_linkHome.SetUnderlineMode(CHyperLinkStatic::UnderlineNever);
    m_linkHome.SetLink(QLatin1String(kMakerHomePage));
}

}  // namespace lumiclip
