#pragma once

#include "core/image/encoder_table.h"

#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

namespace lumiclip {

class Browser;
class PageCapture;
struct PageSnapshot;

// Posted (never sent) to the host's parent for every completed document: one per frame document and one
// for the top-level document, frames first. Carries no data.
inline constexpr QEvent::Type WM_CAPTURE_DOCUMENT_COMPLETE = static_cast<QEvent::Type>(QEvent::User + 1001);

// The synchronous capture host: loads one address in a hidden browser view of the view size, waits in a
// nested event loop (which keeps dispatching every event of the thread) until the top-level document is
// complete, then draws the page over white, scales it to the image size and writes it. A host serves
// one capture; its owner makes a fresh one for the next. A host must not be deleted while CreateImage
// is waiting (isWaiting()).
class CCreateHTMLImage : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CCreateHTMLImage)

public:
    // The host captures in browser, which its owner keeps.
    explicit CCreateHTMLImage(Browser& browser);
    ~CCreateHTMLImage() override;

    // Attaches the host to its parent (which receives the notifications) and makes sure the browser
    // runs. False when no browser could be started.
    bool Create(QObject* pParentWnd);

    // Runs one capture; 1 when the page was loaded, drawn and the image file written, else 0.
    bool CreateImage(const QString& url, const QString& outputPath, int viewWidth, int viewHeight,
                     int imageWidth, int imageHeight);

    // Asks the page to stop loading. A capture that is waiting then ends its wait after a short grace
    // and writes whatever the view holds.
    void Stop();

    // True from the start of CreateImage's wait until it has returned.
    bool isWaiting() const { return m_waiting; }
    // The longest a page may take before the capture goes on with whatever is loaded (default 30 s).
    void setTimeLimitMs(int ms) { m_timeLimitMs = ms; }
    // Why the last CreateImage returned 0 (empty after a success).
    QString lastError() const { return m_lastError; }
    // Whether the top-level document was reported complete (its notification is posted, or will be
    // once CreateImage has returned). A capture that failed before never sends one.
    bool IsTopLevelComplete() const { return m_topLevelComplete; }
    // Whether the wait was cut short by a quit of the application rather than ended by the page.
    bool WasCutShort() const { return m_cutShort; }

    // Looks up the encoder for kImageMimeTypes[index] into m_clsidEncoder; true when one was found.
    bool SelectEncoder(int index);
    // Draws the captured page over a white raster of the view size, scales it to exactly the image size
    // and writes it with m_clsidEncoder. 1 only when the file was written.
    bool RenderToFile(const PageSnapshot* pDocument, const QString& outputPath, int viewWidth, int viewHeight,
                      int imageWidth, int imageHeight);

    QString m_strFormat;
    EncoderId m_clsidEncoder;

protected:
    // Called for every completed document; topLevel is true for the top-level document only, which ends
    // the wait.
    virtual void OnDocumentComplete(bool topLevel);
    // Posts WM_CAPTURE_DOCUMENT_COMPLETE to the parent, the top-level one once CreateImage has returned.
    void PostDocumentComplete(bool topLevel);

private:
    void PostToParent();

    Browser& m_browser;
    bool m_created = false;
    bool m_waiting = false;
    bool m_topLevelComplete = false;
    bool m_stopRequested = false;
    bool m_waitOver = false;
    bool m_topLevelPostDeferred = false;
    bool m_cutShort = false;
    QString m_createError;
    int m_timeLimitMs = 30000;
    QString m_lastError;
    QPointer<PageCapture> m_capture;
    QEventLoop* m_waitLoop = nullptr;
};

// The application's host: also tells the parent about every completed document.
class CVTCreateHTMLImage final : public CCreateHTMLImage {
    Q_OBJECT

public:
    explicit CVTCreateHTMLImage(Browser& browser) : CCreateHTMLImage(browser) {}

protected:
    void OnDocumentComplete(bool topLevel) override;
};

}  // namespace lumiclip
