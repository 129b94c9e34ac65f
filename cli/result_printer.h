#pragma once

#include "cli/batch_result.h"
#include "core/capture/capture_request.h"

#include <QString>

namespace lumiclip {

// How lumiclip-cli tells what happens: a line per result on standard output (text, or one JSON object
// with --json), each failure named on standard error, a progress bar on a terminal, and what happened to
// the browsers elsewhere. Every text that comes from outside is printed with its controls escaped.
class ResultPrinter final {
public:
    // capture: the batch's options (the format and the waits that name a result's wait).
    ResultPrinter(const CaptureRequest& capture, bool json, bool progress);

    void report(const BatchResult& result);
    // The bar: done of total.
    void drawProgress(qsizetype done, qsizetype total) const;
    void clearProgress() const;

    void endpointLost(const QString& reason, bool othersTakeOver) const;
    void endpointRetrying(const QString& reason, int delayMs) const;
    void endpointAnswersAgain(const QString& name) const;
    void endpointGivenUp(const QString& reason) const;
    void endpointNeverAnswered(const QString& name) const;

private:
    CaptureRequest m_capture;
    bool m_json;
    bool m_progress;
};

}  // namespace lumiclip
