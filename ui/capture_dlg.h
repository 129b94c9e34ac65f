#pragma once

#include "core/settings/capture_settings.h"
#include "core/settings/ini_file.h"
#include "preview/picture.h"
#include "widgets/hyperlink_static.h"

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;

namespace lumiclip {

class Browser;
class CVTCreateHTMLImage;

// What the save-as command asks of the save-file dialog.
struct SaveFileRequest {
    QString suggestedName;  // e.g. "website.jpg"
    QString defaultSuffix;  // e.g. "jpg"
    QStringList filters;    // the first one is selected
    bool confirmOverwrite = true;
    QWidget* owner = nullptr;
};
// Answers the chosen full path, or nothing when the user cancelled. Tests replace it.
using SaveFileDialogFunction = std::function<std::optional<QString>(const SaveFileRequest&)>;

// The program's main window: address field, capture button, status line, preview pane with the file's
// information and the menu commands. One capture runs at a time, synchronously: CreateImage's nested
// event loop keeps this window painting and answering while a page loads, so every handler here may run
// inside OnCapture. The three capture states are held in m_bCapturing and m_bDocumentComplete.
class CCaptureDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CCaptureDlg)

public:
    // Dialog item and command identifiers.
    enum : int {
        IDCANCEL = 2,
        IDC_CAPTURE = 1001,
        IDC_STATUS = 1007,
        IDC_URL = 1008,
        IDC_VERSION = 1009,
        IDC_PREVIEW = 1011,
        IDC_SAVE_AS = 1014,
        IDC_STOP = 1020,
        IDC_LINK = 1021,
        IDC_CHECK_VERSION = 1022,
        IDC_PATH = 1024,
        IDC_HEIGHT = 1025,
        IDC_WIDTH = 1026,
        IDC_FORMAT = 1027,
        IDC_SIZE = 1028,
        ID_EXIT = 32771,
        ID_OPTIONS = 32772,
        ID_CHECK_VERSION = 32773,
        ID_ABOUT = 32774,
        ID_START_CAPTURE = 32775,
        ID_STOP_CAPTURE = 32776,
        ID_SAVE_IMAGE_AS = 32777,
        ID_PRODUCT_PAGE = 32778,
        ID_MAKER_PAGE = 32779,
    };

    // browser: where the captures run, kept by the owner. iniPath: the settings file; empty means
    // SettingsFilePath().
    explicit CCaptureDlg(Browser& browser, QWidget* parent = nullptr, const QString& iniPath = QString());
    ~CCaptureDlg() override;

    // The control of a dialog item, or null.
    QWidget* GetDlgItem(int id) const { return m_items.value(id, nullptr); }
    // The menu action of a command, or null.
    QAction* MenuAction(int command) const { return m_actions.value(command, nullptr); }
    // Runs a command as the menu would: the enabling rules of 32775, 32776 and 32777 drop it silently.
    void OnCommand(int command);
    // The rule of a menu command; commands without one are always enabled.
    bool IsCommandEnabled(int command) const;

    void setSaveFileDialog(SaveFileDialogFunction function) { m_saveFileDialog = std::move(function); }
    // What the about command shows, given by the application (the about box is the application's, a
    // layer above the dialogs); none: the command does nothing.
    void setAboutAction(std::function<void(QWidget* owner)> action) { m_aboutAction = std::move(action); }
    // A time limit for the page loads (tests); 0 keeps the host's own.
    void setCaptureTimeLimitMs(int ms) { m_captureTimeLimitMs = ms; }

    void OnCapture();
    void OnStop();
    void OnSaveImageAs();
    // The settings dialog: on OK its values are applied, stored and pushed to the controls.
    void OnOptions();
    void EnableControls(bool enable);

    // Pushes the members to the controls (toControls) or takes the controls' values back; false when a
    // value fails its check (the address is longer than 255 characters).
    bool UpdateData(bool saveAndValidate = true);

    bool isCapturing() const { return m_bCapturing; }
    bool isDocumentComplete() const { return m_bDocumentComplete; }
    bool isPictureLoaded() const { return m_bPictureLoaded; }
    bool isCaptureCallRunning() const { return m_bInCreateImage; }
    int completeCount() const { return m_nCompleteCount; }
    const QString& outputPath() const { return m_strOutputPath; }
    const CaptureSettings& settings() const { return m_settings; }
    const CPicture& picture() const { return m_picture; }
    // The size the preview pane drew the picture at in its last paint (invalid before).
    QSize lastDrawnSize() const { return m_lastDrawnSize; }

    static constexpr int kMaxUrlLength = 255;

protected:
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void CreateMenu();
    void OnInitDialog();
    void OnOK();
    void OnCancel();
    int OnCaptureDocumentComplete();
    // A capture that wrote no image: the reason in a message box, and, when no notification will end
    // the capturing state, the window made ready for the next capture.
    void OnCaptureFailed(const QString& reason, bool noNotification);
    // The preview pane's paint step: the fitted picture and the file information.
    void PaintPreview(QWidget* pane);
    void SetItemText(int id, const QString& text);

    CaptureSettings m_settings;
    CIniFile m_iniFile;
    QString m_strProgramDir;
    QString m_strUrl;
    QIcon m_hIcon;
    CPicture m_picture;
    CHyperLinkStatic m_link;
    bool m_bPictureLoaded = false;
    bool m_bDocumentComplete = false;
    bool m_bCapturing = false;
    QString m_strVersion;
    QString m_strOutputPath;
    int m_nCompleteCount = 0;
    QString m_strStatus;
    std::unique_ptr<CVTCreateHTMLImage> m_pCaptureHost;

    Browser& m_browser;
    std::function<void(QWidget* owner)> m_aboutAction;
    QString m_iniPath;
    bool m_bInCreateImage = false;
    int m_captureTimeLimitMs = 0;
    QSize m_lastDrawnSize;
    SaveFileDialogFunction m_saveFileDialog;
    QHash<int, QWidget*> m_items;
    QHash<int, QAction*> m_actions;
    QMenuBar* m_menuBar = nullptr;
    QWidget* m_client = nullptr;
};

}  // namespace lumiclip
