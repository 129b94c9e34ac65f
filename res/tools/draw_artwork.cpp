// Draws the program's banner (600 x 90) and its icon (16 to 256 pixels) into the current directory.
// Not part of the build; the PNGs it wrote are committed in res/images/. To redraw them:
//   g++ -std=c++20 -fPIC draw_artwork.cpp -o draw $(pkg-config --cflags --libs Qt6Gui)
//   QT_QPA_PLATFORM=offscreen ./draw
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

static void drawLens(QPainter& p, QRectF r) {
    // A camera-lens ring with a page corner behind it.
    const qreal s = r.width();
    QRectF page(r.x() + s * 0.12, r.y() + s * 0.08, s * 0.62, s * 0.80);
    QPainterPath pagePath;
    pagePath.moveTo(page.topLeft());
    pagePath.lineTo(page.right() - s * 0.18, page.top());
    pagePath.lineTo(page.right(), page.top() + s * 0.18);
    pagePath.lineTo(page.bottomRight());
    pagePath.lineTo(page.bottomLeft());
    pagePath.closeSubpath();
    p.setPen(QPen(QColor(30, 60, 110), std::max(1.0, s / 40)));
    p.setBrush(QColor(250, 252, 255));
    p.drawPath(pagePath);
    p.setPen(QPen(QColor(120, 150, 190), std::max(1.0, s / 32)));
    for (int i = 0; i < 4; ++i) {
        qreal y = page.top() + s * (0.30 + i * 0.12);
        p.drawLine(QPointF(page.left() + s * 0.08, y), QPointF(page.right() - s * (i == 3 ? 0.30 : 0.10), y));
    }
    QPointF c(r.x() + s * 0.66, r.y() + s * 0.64);
    qreal rad = s * 0.30;
    QRadialGradient g(c - QPointF(rad * 0.3, rad * 0.3), rad * 1.3);
    g.setColorAt(0, QColor(140, 220, 255));
    g.setColorAt(0.5, QColor(20, 120, 200));
    g.setColorAt(1, QColor(5, 40, 90));
    p.setPen(QPen(QColor(255, 160, 30), std::max(1.5, s / 14)));
    p.setBrush(g);
    p.drawEllipse(c, rad, rad);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(c - QPointF(rad * 0.35, rad * 0.35), rad * 0.22, rad * 0.16);
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        drawLens(p, QRectF(0, 0, size, size));
        p.end();
        icon.save(QStringLiteral("lumiclip_%1.png").arg(size));
    }
    QImage banner(600, 90, QImage::Format_RGB32);
    QPainter p(&banner);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 600, 90);
    bg.setColorAt(0, QColor(12, 48, 102));
    bg.setColorAt(0.6, QColor(28, 96, 168));
    bg.setColorAt(1, QColor(90, 170, 225));
    p.fillRect(banner.rect(), bg);
    // soft light bands
    for (int i = 0; i < 6; ++i) {
        QPainterPath wave;
        wave.moveTo(0, 60 + i * 6);
        for (int x = 0; x <= 600; x += 10)
            wave.lineTo(x, 60 + i * 6 + 10 * std::sin((x + i * 40) / 70.0));
        p.setPen(QPen(QColor(255, 255, 255, 30 + i * 6), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
    }
    drawLens(p, QRectF(18, 8, 74, 74));
    QFont title(QStringLiteral("Noto Sans CJK SC"));
    title.setPixelSize(34);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRectF(108, 10, 480, 44), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ombrix Lumiclip"));
    QFont sub(QStringLiteral("Noto Sans CJK SC"));
    sub.setPixelSize(16);
    p.setFont(sub);
    p.setPen(QColor(255, 214, 140));
    p.drawText(QRectF(110, 54, 480, 26), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("网页截图工具 · 输入地址，一键截取网站图片"));
    p.end();
    banner.save(QStringLiteral("banner.png"));
    return 0;
}
