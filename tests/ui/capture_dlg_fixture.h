#pragma once

#include "core/browser/browser.h"
#include "core/capture/create_html_image.h"
#include "ui/capture_dlg.h"
#include "widgets/message_box.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace lumiclip::test {

// A main window on its own settings file, with every message box recorded and answered OK.
class CaptureDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_previous = SetMessageBoxHandler([this](const MessageBoxRequest& request) {
            m_boxes.push_back(request);
            return MessageAnswer::Ok;
        });
    }
    void TearDown() override {
        m_dlg.reset();
        SetMessageBoxHandler(m_previous);
    }

    // Writes the settings file (section "capture") and makes the window on it.
    void makeDialog(const QByteArray& captureSection = QByteArray()) {
        const QString ini = m_dir.filePath(QStringLiteral("Lumiclip.ini"));
        QFile file(ini);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[capture]\n" + captureSection);
        file.close();
        m_dlg = std::make_unique<CCaptureDlg>(m_browser, nullptr, ini);
    }

    QPushButton* button(int id) const { return qobject_cast<QPushButton*>(m_dlg->GetDlgItem(id)); }
    QLabel* label(int id) const { return qobject_cast<QLabel*>(m_dlg->GetDlgItem(id)); }
    QLineEdit* urlField() const { return qobject_cast<QLineEdit*>(m_dlg->GetDlgItem(CCaptureDlg::IDC_URL)); }
    QString statusText() const { return label(CCaptureDlg::IDC_STATUS)->text(); }
    // Delivers one document-complete notification as the capture host posts it.
    void notify() const {
        QCoreApplication::postEvent(m_dlg.get(), new QEvent(WM_CAPTURE_DOCUMENT_COMPLETE));
        QCoreApplication::sendPostedEvents(m_dlg.get(), WM_CAPTURE_DOCUMENT_COMPLETE);
    }

    QTemporaryDir m_dir;
    // Starts a browser only when a test captures; outlives the window.
    Browser m_browser;
    std::unique_ptr<CCaptureDlg> m_dlg;
    std::vector<MessageBoxRequest> m_boxes;
    MessageBoxHandler m_previous;
};

}  // namespace lumiclip::test
