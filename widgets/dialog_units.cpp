#include "widgets/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

#include <cstdint>

namespace lumiclip {

namespace {

// value * numerator / denominator (denominator > 0) rounded to the nearest integer, halves away from zero.
int MulDivRound(int value, int numerator, int denominator) {
    const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
    const std::int64_t half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

// The first installed sans-serif family that covers simplified Chinese, else the generic sans-serif.
QString SimplifiedChineseSansFamily() {
    const QStringList preferred = {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                                   QStringLiteral("Droid Sans Fallback")};
    const QStringList installed = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    for (const QString& family : preferred) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            return family;
        }
    }
    return QStringLiteral("sans-serif");
}

}  // namespace

DialogBaseUnits DialogBaseUnitsFor(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabetWidth =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits units;
    units.averageCharWidth = (alphabetWidth / 26 + 1) / 2;
    units.charHeight = metrics.height();
    return units;
}

int DialogXToPixels(int x, const DialogBaseUnits& units) {
    return MulDivRound(x, units.averageCharWidth, 4);
}

int DialogYToPixels(int y, const DialogBaseUnits& units) {
    return MulDivRound(y, units.charHeight, 8);
}

QRect DialogRectToPixels(const QRect& dialogUnits, const DialogBaseUnits& units) {
    return QRect(DialogXToPixels(dialogUnits.x(), units), DialogYToPixels(dialogUnits.y(), units),
                 DialogXToPixels(dialogUnits.width(), units), DialogYToPixels(dialogUnits.height(), units));
}

QRect DialogRectToPixels(const QRect& dialogUnits, const QFont& font) {
    return DialogRectToPixels(dialogUnits, DialogBaseUnitsFor(font));
}

QFont DialogFont() {
    QFont font;
    font.setFamilies({QString::fromUtf8("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Serif CJK SC"), SimplifiedChineseSansFamily()});
    font.setPointSize(9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void UseSimplifiedChineseFontFallback() {
    if (qEnvironmentVariableIsEmpty("FC_LANG")) {
        qputenv("FC_LANG", "zh-cn");
    }
}

}  // namespace lumiclip
