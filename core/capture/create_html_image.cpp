#include "core/capture/create_html_image.h"

#include "core/browser/browser.h"
#include "core/capture/capture_request.h"
#include "core/capture/page_capture.h"
#include "core/image/image_format.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace lumiclip {

namespace {

// The record of a capture from the host's own arguments.
CaptureRequest OptionsFor(const QString& url, const QString& outputPath, int viewWidth, int viewHeight,
                          int imageWidth, int imageHeight, const QString& format) {
    CaptureRequest options;
    options.url = url;
    options.output.path = outputPath;
    options.page.viewWidth = viewWidth;
    options.page.viewHeight = viewHeight;
    options.image.width = imageWidth;
    options.image.height = imageHeight;
    // The format whose encoder the host selects: a desktop format by its exact name, JPEG for any other.
    const ImageFormat* known = FindImageFormat(format);
    options.image.format = known && known->desktop ? format : QStringLiteral("JPG");
    return options;
}

}  // namespace

CCreateHTMLImage::CCreateHTMLImage(Browser& browser) : m_browser(browser) {}

CCreateHTMLImage::~CCreateHTMLImage() {
    if (m_capture) {
        // Dropping the capture disposes of its browser context.
        delete m_capture;
    }
}

bool CCreateHTMLImage::Create(QObject* pParentWnd) {
    QString error;
    if (!m_browser.ensureStarted(&error)) {
        m_createError = QStringLiteral("the browser could not be started: %1").arg(error);
        m_lastError = m_createError;
        return false;
    }
    setParent(pParentWnd);
    m_created = true;
    return true;
}

bool CCreateHTMLImage::SelectEncoder(int index) {
    if (index < 0 || index >= static_cast<int>(kImageMimeTypes.size())) {
        return false;
    }
    return FindEncoderByMime(QString::fromLatin1(kImageMimeTypes[static_cast<size_t>(index)]),
                             &m_clsidEncoder) != -1;
}

bool CCreateHTMLImage::RenderToFile(const PageSnapshot* pDocument, const QString& outputPath, int viewWidth,
                                    int viewHeight, int imageWidth, int imageHeight) {
    if (!pDocument) {
        m_lastError = QStringLiteral("no document to draw");
        return false;
    }
    const CaptureRequest options =
        OptionsFor(QString(), outputPath, viewWidth, viewHeight, imageWidth, imageHeight, m_strFormat);
    QString error = CheckCaptureSizes(viewWidth, viewHeight, imageWidth, imageHeight);
    if (!error.isEmpty()) {
        m_lastError = error;
        return false;
    }
    if (!WriteSnapshotImage(*pDocument, options, m_clsidEncoder, &error)) {
        m_lastError = error;
        return false;
    }
    return true;
}

void CCreateHTMLImage::Stop() {
    m_stopRequested = true;
    if (m_capture) {
        m_capture->stop();
    }
}

void CCreateHTMLImage::OnDocumentComplete(bool topLevel) {
    if (topLevel) {
        m_topLevelComplete = true;
        if (m_waitLoop) {
            m_waitLoop->exit(0);
        }
    }
}

bool CCreateHTMLImage::CreateImage(const QString& url, const QString& outputPath, int viewWidth,
                                   int viewHeight, int imageWidth, int imageHeight) {
    m_lastError.clear();
    SelectEncoder(MimeIndexForFormat(m_strFormat));
    if (!m_created) {
        m_lastError =
            m_createError.isEmpty() ? QStringLiteral("the capture host has no browser") : m_createError;
        return false;
    }
    if (m_waiting || m_capture) {
        m_lastError = QStringLiteral("this host has already captured a page");
        return false;
    }
    CaptureRequest options =
        OptionsFor(url, outputPath, viewWidth, viewHeight, imageWidth, imageHeight, m_strFormat);
    options.limits.pageMs = m_timeLimitMs;
    // Sizes a hand-edited settings file can hold but no raster can: refuse before any work. The sizes
    // here are exact; a side of 0 is no size.
    const QString sizeError = CheckCaptureSizes(viewWidth, viewHeight, imageWidth, imageHeight);
    if (!sizeError.isEmpty()) {
        m_lastError = sizeError;
        return false;
    }

    auto* capture = new PageCapture(m_browser, options, this);
    m_capture = capture;
    m_topLevelComplete = false;
    m_waitOver = false;
    connect(capture, &PageCapture::frameDocumentComplete, this, [this] { OnDocumentComplete(false); });
    connect(capture, &PageCapture::waitEnded, this, [this](WaitEnd how) {
        m_waitOver = true;
        // A stopped or timed-out page counts as complete: the capture goes on as after a load. A quit
        // is not a completion.
        if (how != WaitEnd::FinishedEarly) {
            OnDocumentComplete(true);
        } else if (m_waitLoop) {
            m_waitLoop->exit(0);
        }
    });
    connect(capture, &PageCapture::finished, this, [this] {
        m_waitOver = true;
        if (m_waitLoop) {
            m_waitLoop->exit(0);
        }
    });
    if (m_stopRequested) {
        capture->stop();
    }
    capture->start();

    // The wait: every event of the thread is dispatched, so the window stays alive and paints.
    m_waiting = true;
    if (!m_waitOver) {
        QEventLoop loop;
        m_waitLoop = &loop;
        loop.exec();
        m_waitLoop = nullptr;
    }
    if (!m_waitOver) {
        // Left by a quit of the application: take whatever the view holds now. The quit itself still
        // reaches the outer loop.
        m_cutShort = true;
        capture->finishNow();
    }
    // The snapshot: no user input meanwhile, and no nested loop that a pending quit would cut short.
    const QDeadlineTimer deadline(30000);
    while (!capture->isFinished() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents,
                                        50);
    }
    m_waiting = false;
    // The top-level notification reaches the parent only after this call has returned.
    if (m_topLevelPostDeferred) {
        m_topLevelPostDeferred = false;
        PostToParent();
    }

    if (!capture->isFinished()) {
        m_lastError = QStringLiteral("the browser did not deliver the page's rendering");
        return false;
    }
    const PageCaptureOutcome& outcome = capture->outcome();
    if (!outcome.ok) {
        m_lastError = outcome.error;
        return false;
    }
    return RenderToFile(&outcome.snapshot, outputPath, viewWidth, viewHeight, imageWidth, imageHeight);
}

void CCreateHTMLImage::PostToParent() {
    if (parent()) {
        QCoreApplication::postEvent(parent(), new QEvent(WM_CAPTURE_DOCUMENT_COMPLETE));
    }
}

void CCreateHTMLImage::PostDocumentComplete(bool topLevel) {
    // Taking the snapshot still runs the event loop; held back, the top-level notification cannot be
    // handled before CreateImage returns. Frames' notifications go at once.
    if (topLevel && m_waiting) {
        m_topLevelPostDeferred = true;
        return;
    }
    PostToParent();
}

void CVTCreateHTMLImage::OnDocumentComplete(bool topLevel) {
    CCreateHTMLImage::OnDocumentComplete(topLevel);
    PostDocumentComplete(topLevel);
}

}  // namespace lumiclip
