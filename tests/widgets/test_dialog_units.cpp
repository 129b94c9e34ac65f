#include "widgets/dialog_units.h"

#include <gtest/gtest.h>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QRawFont>
#include <QStringList>
#include <QTextLayout>

namespace lumiclip {
namespace {

TEST(DialogUnits, CoordinatesRoundToNearestPixel) {
    const DialogBaseUnits units{6, 13};
    struct Case {
        int dialogUnits;
        int x;
        int y;
    };
    // x * 6 / 4 and y * 13 / 8, halves rounded away from zero.
    const Case cases[] = {{0, 0, 0},      {1, 2, 2},    {2, 3, 3},    {3, 5, 5},
                          {4, 6, 7},      {7, 11, 11},  {8, 12, 13},  {256, 384, 416},
                          {91, 137, 148}, {-1, -2, -2}, {-3, -5, -5}, {-4, -6, -7}};
    for (const Case& c : cases) {
        EXPECT_EQ(DialogXToPixels(c.dialogUnits, units), c.x) << c.dialogUnits;
        EXPECT_EQ(DialogYToPixels(c.dialogUnits, units), c.y) << c.dialogUnits;
    }
}

TEST(DialogUnits, RectangleConvertsEachFieldOnItsOwn) {
    const DialogBaseUnits units{7, 15};
    const QRect pixels = DialogRectToPixels(QRect(7, 10, 50, 8), units);
    EXPECT_EQ(pixels, QRect(12, 19, 88, 15));  // 12.25, 18.75, 87.5, 15
}

TEST(DialogUnits, BaseUnitsComeFromTheFontMetrics) {
    const QFont font = DialogFont();
    const QFontMetrics metrics(font);
    const int alphabet =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const DialogBaseUnits units = DialogBaseUnitsFor(font);
    EXPECT_EQ(units.averageCharWidth, (alphabet / 26 + 1) / 2);
    EXPECT_EQ(units.charHeight, metrics.height());
    EXPECT_GT(units.averageCharWidth, 0);
    EXPECT_EQ(DialogRectToPixels(QRect(4, 8, 4, 8), font),
              QRect(units.averageCharWidth, units.charHeight, units.averageCharWidth, units.charHeight));
}

TEST(DialogUnits, DialogFontIsNinePointWithChineseFallbacks) {
    const QFont font = DialogFont();
    EXPECT_EQ(font.pointSize(), 9);
    const QStringList families = font.families();
    ASSERT_GE(families.size(), 4);
    EXPECT_EQ(families.at(0), QString::fromUtf8("宋体"));
    EXPECT_EQ(families.at(1), QStringLiteral("SimSun"));
    EXPECT_EQ(families.at(2), QStringLiteral("Noto Serif CJK SC"));
    // Whatever family is chosen, Chinese text must be drawable.
    const QFontMetrics metrics(font);
    EXPECT_TRUE(metrics.inFontUcs4(0x5B8B));  // 宋
}

// The faces that draw text in a font, as the text engine picks them (fallbacks included).
QStringList FacesDrawing(const QFont& font, const QString& text) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QStringList faces;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        faces.append(run.rawFont().familyName());
    }
    return faces;
}

TEST(DialogUnits, ChineseTextIsDrawnWithSimplifiedChineseGlyphForms) {
    const QString text = QString::fromUtf8("截取图片 设置 比例锁定");
    for (const QString& face : FacesDrawing(DialogFont(), text)) {
        EXPECT_TRUE(face.endsWith(QStringLiteral(" SC"))) << face.toStdString();
    }
    // A face without Chinese glyphs falls back to a simplified-Chinese one too.
    QFont latin(QStringLiteral("DejaVu Sans"));
    latin.setPointSize(9);
    const QStringList faces = FacesDrawing(latin, text);
    ASSERT_FALSE(faces.isEmpty());
    for (const QString& face : faces) {
        EXPECT_FALSE(face.endsWith(QStringLiteral(" JP"))) << face.toStdString();
    }
    EXPECT_TRUE(faces.join(QLatin1Char(',')).contains(QStringLiteral("CJK SC")))
        << faces.join(QLatin1Char(',')).toStdString();
}

}  // namespace
}  // namespace lumiclip
