#include "app/about_dlg.h"
#include "widgets/dialog_units.h"
#include "widgets/link_open.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace lumiclip {
namespace {

TEST(AboutDlg, VersionLineAndTexts) {
    CAboutDlg dlg;
    auto* version = qobject_cast<QLabel*>(dlg.Item(1023));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("Ombrix Lumiclip ") + QStringLiteral(LUMICLIP_VERSION));
    EXPECT_EQ(version->text(), QStringLiteral("Ombrix Lumiclip 1.1.0"));
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About Lumiclip"));
    auto* support = qobject_cast<QLabel*>(dlg.Item(1028));
    ASSERT_NE(support, nullptr);
    EXPECT_TRUE(support->text().startsWith(QStringLiteral("Support: ")));
    EXPECT_EQ(qobject_cast<CHyperLinkStatic*>(support), nullptr);
    EXPECT_NE(support->cursor().shape(), Qt::PointingHandCursor);
}

TEST(AboutDlg, LaidOutInDialogUnits) {
    CAboutDlg dlg;
    const QFont font = DialogFont();
    EXPECT_EQ(dlg.size(), DialogRectToPixels(QRect(0, 0, 256, 91), font).size());
    EXPECT_EQ(dlg.Item(1023)->geometry(), DialogRectToPixels(QRect(18, 13, 149, 8), font));
    EXPECT_EQ(dlg.Item(1)->geometry(), DialogRectToPixels(QRect(199, 7, 50, 14), font));
    EXPECT_EQ(dlg.Item(1028)->geometry(), DialogRectToPixels(QRect(18, 57, 177, 11), font));
    EXPECT_TRUE(qobject_cast<QPushButton*>(dlg.Item(1))->isDefault());
    // Our own texts fit the template's rectangles (the notice has no identifier; -2 here).
    for (const int id : {1023, -2, 1028}) {
        auto* label = qobject_cast<QLabel*>(dlg.Item(id));
        ASSERT_NE(label, nullptr) << id;
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width()) << id;
    }
    // The link keeps its top-left corner and takes its text's size.
    const QRect link = dlg.Item(1027)->geometry();
    EXPECT_EQ(link.topLeft(), DialogRectToPixels(QRect(18, 43, 177, 11), font).topLeft());
    QFont underlined = dlg.HomeLink().font();
    underlined.setUnderline(true);
    EXPECT_EQ(link.width(), QFontMetrics(underlined).horizontalAdvance(dlg.HomeLink().text()));
}

TEST(AboutDlg, HomeLinkIsNeverUnderlined) {
    CAboutDlg dlg;
    CHyperLinkStatic& link = dlg.HomeLink();
    EXPECT_EQ(link.UnderlineMode(), CHyperLinkStatic::UnderlineNever);
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link.Link(), link.text());
    EXPECT_TRUE(link.Link().startsWith(QStringLiteral("http://")));
    link.SetPointerLocator([&link] { return link.mapToGlobal(QPoint(2, 2)); });
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), link.mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&link, &move);
    EXPECT_TRUE(link.IsHovering());
    EXPECT_FALSE(link.font().underline());
}

}  // namespace
}  // namespace lumiclip
