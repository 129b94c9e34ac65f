// The capture cycle and the menu commands of the main window.
#include "core/capture/capture_request.h"
#include "core/capture/create_html_image.h"
#include "core/capture/user_address.h"
#include "core/image/image_format.h"
#include "ui/capture_dlg.h"
#include "ui/options_dlg.h"
#include "ui/upgrade_commands.h"
#include "widgets/message_box.h"

#include <QApplication>
#include <QFileDialog>

namespace lumiclip {

namespace {

std::optional<QString> RunSaveFileDialog(const SaveFileRequest& request) {
    QFileDialog dialog(request.owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty()) {
        dialog.selectNameFilter(request.filters.first());
    }
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    dialog.selectFile(request.suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

}  // namespace

bool CCaptureDlg::IsCommandEnabled(int command) const {
    switch (command) {
        case ID_START_CAPTURE:
            return !m_bCapturing;
        case ID_STOP_CAPTURE:
            return m_bCapturing && !m_bDocumentComplete;
        case ID_SAVE_IMAGE_AS:
            return m_bDocumentComplete && !m_bCapturing;
        default:
            return true;
    }
}

void CCaptureDlg::OnCommand(int command) {
    if (!IsCommandEnabled(command)) {
        return;  // dropped without a word; the menu items always look enabled
    }
    switch (command) {
        case ID_START_CAPTURE:
            OnCapture();
            break;
        case ID_STOP_CAPTURE:
            OnStop();
            break;
        case ID_SAVE_IMAGE_AS:
            OnSaveImageAs();
            break;
        case ID_EXIT:
            OnCancel();
            break;
        case ID_CHECK_VERSION:
            CheckForNewerVersion(QStringLiteral(LUMICLIP_VERSION), this);
            break;
        case ID_ABOUT:
            if (m_aboutAction) {
                m_aboutAction(this);
            }
            break;
        case ID_OPTIONS:
            OnOptions();
            break;
        case ID_PRODUCT_PAGE:
            OpenProductPage();
            break;
        case ID_MAKER_PAGE:
            OpenMakerHomePage();
            break;
        default:
            break;
    }
}

void CCaptureDlg::OnCapture() {
    // A capture command that comes while an earlier CreateImage still waits (its frames' notifications
    // can re-enable the controls) is refused: the waiting host must never be deleted.
    if (m_bInCreateImage) {
        return;
    }
    UpdateData(true);  // a refused address goes on as read
    const QString target = m_strOutputPath;
    // The file is named after the settings' format: its bytes must be of that format too.
    const ImageFormat* format = DesktopImageFormat(m_settings.img_format);
    if (!format) {
        OnCaptureFailed(QStringLiteral("the image format \"%1\" is not one this program writes (%2)")
                            .arg(m_settings.img_format, ImageFormatNames(true).join(QStringLiteral(", "))),
                        true);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_nCompleteCount = 0;
    m_strStatus = QString::fromUtf8("正在截取网站[") + m_strUrl + QString::fromUtf8("]图片，请等待...");
    UpdateData(false);
    m_bCapturing = true;
    m_bDocumentComplete = false;
    m_bPictureLoaded = false;
    EnableControls(false);
    GetDlgItem(IDC_PREVIEW)->hide();
    m_pCaptureHost.reset();
    m_pCaptureHost = std::make_unique<CVTCreateHTMLImage>(m_browser);
    m_pCaptureHost->Create(this);
    m_pCaptureHost->m_strFormat = QLatin1String(format->name);
    if (m_captureTimeLimitMs > 0) {
        m_pCaptureHost->setTimeLimitMs(m_captureTimeLimitMs);
    }
    m_bInCreateImage = true;
    // The field keeps what was typed; the browser gets the address completed as an address bar would.
    const bool written =
        m_pCaptureHost->CreateImage(AddressFromUserInput(m_strUrl), target, m_settings.web_width,
                                    m_settings.web_height, m_settings.img_width, m_settings.img_height);
    m_bInCreateImage = false;
    if (written) {
        if (m_picture.LoadFromFile(target)) {
            m_bPictureLoaded = true;
            GetDlgItem(IDC_PREVIEW)->show();
        }
        update();
    }
    QApplication::restoreOverrideCursor();
    if (!written && !m_pCaptureHost->WasCutShort()) {
        OnCaptureFailed(m_pCaptureHost->lastError(), !m_pCaptureHost->IsTopLevelComplete());
    }
}

void CCaptureDlg::OnCaptureFailed(const QString& reason, bool noNotification) {
    const QString failed = QString::fromUtf8("截取网站[") + m_strUrl + QString::fromUtf8("]图片失败");
    if (noNotification) {
        // Nothing will end the capturing state (the page never reported complete): end it here, so that
        // the window is ready for the next capture.
        m_bCapturing = false;
        m_bDocumentComplete = false;
        EnableControls(true);
        m_strStatus = failed;
        UpdateData(false);
    }
    AppMessageBox(failed + QString::fromUtf8("：\n") + reason, MessageIcon::Warning, MessageButtons::Ok,
                  this);
}

int CCaptureDlg::OnCaptureDocumentComplete() {
    ++m_nCompleteCount;
    m_strStatus = QStringLiteral("Document Complete");
    UpdateData(false);
    if (m_nCompleteCount == 1) {
        m_bCapturing = false;
        EnableControls(true);
        m_bDocumentComplete = true;
    }
    return 0;
}

void CCaptureDlg::OnStop() {
    if (m_pCaptureHost) {
        m_pCaptureHost->Stop();
    }
}

void CCaptureDlg::OnOptions() {
    COptionsDlg options(this);
    UpdateData(true);  // an address that is refused goes on as it was read
    options.m_strDefaultUrl = m_strUrl;
    options.m_nViewWidth = m_settings.web_width;
    options.m_nViewHeight = m_settings.web_height;
    options.m_nImageWidth = m_settings.img_width;
    options.m_nImageHeight = m_settings.img_height;
    options.m_strImageFormat = m_settings.img_format;
    if (options.exec() != QDialog::Accepted) {
        return;  // nothing changes, nothing is written
    }
    m_settings.web_width = options.m_nViewWidth;
    m_settings.web_height = options.m_nViewHeight;
    m_settings.img_height = options.m_nImageHeight;
    m_settings.img_width = options.m_nImageWidth;
    m_settings.img_format = options.m_strImageFormat;
    m_strUrl = options.m_strDefaultUrl;
    StoreCaptureSettings(m_iniFile, m_settings, m_strUrl);  // a failed write keeps the values in memory
    m_strOutputPath = OutputPathFor(m_settings);
    UpdateData(false);
}

void CCaptureDlg::OnSaveImageAs() {
    if (!m_bPictureLoaded) {
        AppMessageBox(QString::fromUtf8("截图还没有被正常载入，请稍候再试。"), MessageIcon::Warning,
                      MessageButtons::Ok, this);
        return;
    }
    const QString format = m_settings.img_format.toLower();
    SaveFileRequest request;
    request.suggestedName = QStringLiteral("website.") + format;
    request.defaultSuffix = format;
    request.filters = SaveAsFilters();
    request.confirmOverwrite = true;
    request.owner = this;
    const std::optional<QString> chosen =
        m_saveFileDialog ? m_saveFileDialog(request) : RunSaveFileDialog(request);
    if (!chosen || chosen->isEmpty()) {
        return;
    }
    m_strOutputPath = *chosen;
    UpdateData(false);
    if (m_picture.SaveToFile(*chosen)) {
        AppMessageBox(QString::fromUtf8("保存成功"), MessageIcon::Information, MessageButtons::Ok, this);
    }
}

}  // namespace lumiclip
