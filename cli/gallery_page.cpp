#include "cli/gallery_page.h"

#include "cli/cli_options.h"
#include "core/image/image_writer.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QUrl>

#include <algorithm>

namespace lumiclip {

namespace {

// Text for the page: control characters made visible, then HTML-escaped (attributes are always
// double-quoted, so the quote is escaped and the apostrophe need not be).
QString Escaped(const QString& text) {
    return PrintableText(text).toHtmlEscaped();
}

// The image's path from the gallery's folder as a relative URL: each segment percent-encoded, so that
// a "#", "?", "%" or ":" in a folder name is a name, not part of the URL's syntax.
QString ImageSource(const QDir& galleryFolder, const QString& output) {
    const QString relative = galleryFolder.relativeFilePath(QFileInfo(output).absoluteFilePath());
    QStringList segments = relative.split(QLatin1Char('/'));
    for (QString& segment : segments) {
        segment = QString::fromLatin1(QUrl::toPercentEncoding(segment));
    }
    return segments.join(QLatin1Char('/'));
}

QString StatusText(const BatchResult& result) {
    QString status = result.status > 0 ? QStringLiteral("HTTP %1").arg(result.status) : QString();
    if (result.skipped) {
        status = QStringLiteral("already captured");
    } else if (result.ok && status.isEmpty()) {
        status = QStringLiteral("captured");
    }
    return status;
}

// The size an image is shown at: the one written, else (a file captured by an earlier run) the one in
// its file, else the one asked for, where a side of 0 is left to the browser (in proportion).
QSize ShownSize(const BatchResult& result, int imageWidth, int imageHeight) {
    if (result.width > 0 && result.height > 0) {
        return {result.width, result.height};
    }
    const QSize inFile = QImageReader(result.output).size();
    return inFile.isValid() && !inFile.isEmpty() ? inFile : QSize(imageWidth, imageHeight);
}

}  // namespace

QByteArray GalleryHtml(const QList<BatchResult>& results, const QString& galleryPath, int imageWidth,
                       int imageHeight) {
    const QDir folder = QFileInfo(galleryPath).absoluteDir();
    const auto failed =
        std::count_if(results.cbegin(), results.cend(), [](const BatchResult& r) { return !r.ok; });
    // Images in proportion (a side of 0) differ from page to page: the cards are as wide as the widest
    // and the empty box of a failure as high as the highest.
    QList<QSize> shown;
    QSize card(imageWidth, imageHeight);
    for (const BatchResult& result : results) {
        shown.append(result.ok ? ShownSize(result, imageWidth, imageHeight) : QSize());
        if (imageWidth == 0) {
            card.setWidth(std::max(card.width(), shown.last().width()));
        }
        if (imageHeight == 0) {
            card.setHeight(std::max(card.height(), shown.last().height()));
        }
    }
    // None written to measure: a box of the usual proportions.
    if (card.width() <= 0) {
        card.setWidth(card.height() > 0 ? std::max(1, card.height() * 180 / 138) : 180);
    }
    if (card.height() <= 0) {
        card.setHeight(std::max(1, card.width() * 138 / 180));
    }
    QString html;
    html +=
        QStringLiteral(
            "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
            // Nothing on this page runs, whatever an address or a title holds.
            "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; object-src 'none'; "
            "base-uri 'none'; form-action 'none'\">\n"
            "<title>Lumiclip: %1 pages, %2 failed</title>\n"
            "<style>\n"
            "body{margin:16px;font:13px sans-serif;color:#222;background:#f4f4f4}\n"
            "h1{font-size:16px;margin:0 0 12px}\n"
            ".pages{display:flex;flex-wrap:wrap;gap:12px;margin:0;padding:0;list-style:none}\n"
            ".page{width:%3px;background:#fff;border:1px solid #ccc;padding:6px}\n"
            ".shot{display:block;max-width:100%;background:#ddd}\n"
            ".missing{width:%3px;height:%4px}\n"
            ".missing{display:flex;align-items:center;justify-content:center;color:#777}\n"
            ".url,.title{overflow-wrap:anywhere;margin:4px 0 0}\n"
            ".title{font-weight:bold}\n"
            ".status{color:#555;margin:2px 0 0}\n"
            ".error{color:#b00;overflow-wrap:anywhere;margin:2px 0 0}\n"
            "</style></head>\n<body>\n<h1>%1 pages, %2 failed</h1>\n<ul class=\"pages\">\n")
            .arg(QString::number(results.size()), QString::number(failed), QString::number(card.width()),
                 QString::number(card.height()));
    for (qsizetype i = 0; i < results.size(); ++i) {
        const BatchResult& result = results[i];
        html += QStringLiteral("<li class=\"page\">");
        if (result.ok) {
            const QSize size = shown[i];
            const auto side = [](const char* name, int value) {
                return value > 0
                           ? QStringLiteral(" %1=\"%2\"").arg(QLatin1String(name), QString::number(value))
                           : QString();
            };
            html += QStringLiteral("<img class=\"shot\" src=\"%1\"%2 alt=\"\">")
                        // In one pass: a percent-encoded "%3A" in the path is no placeholder.
                        .arg(ImageSource(folder, result.output).toHtmlEscaped(),
                             side("width", size.width()) + side("height", size.height()));
        } else {
            html += QStringLiteral("<div class=\"shot missing\">no image</div>");
        }
        if (!result.title.isEmpty()) {
            html += QStringLiteral("<p class=\"title\">%1</p>").arg(Escaped(result.title));
        }
        html += QStringLiteral("<p class=\"url\">%1</p>").arg(Escaped(result.url));
        const QString status = StatusText(result);
        if (!status.isEmpty()) {
            html += QStringLiteral("<p class=\"status\">%1</p>").arg(Escaped(status));
        }
        if (!result.ok) {
            html += QStringLiteral("<p class=\"error\">%1</p>").arg(Escaped(result.error));
        }
        html += QStringLiteral("</li>\n");
    }
    html += QStringLiteral("</ul>\n</body></html>\n");
    return html.toUtf8();
}

bool WriteGallery(const QList<BatchResult>& results, const QString& galleryPath, int imageWidth,
                  int imageHeight, QString* error) {
    const QString folder = QFileInfo(galleryPath).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the gallery's folder %1").arg(folder);
        return false;
    }
    return WriteFileAtomically(galleryPath, GalleryHtml(results, galleryPath, imageWidth, imageHeight),
                               error);
}

}  // namespace lumiclip
