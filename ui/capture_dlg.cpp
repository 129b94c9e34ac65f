#include "ui/capture_dlg.h"
#include "widgets/maker_links.h"

#include "core/capture/create_html_image.h"
#include "ui/data_exchange.h"
#include "widgets/dialog_units.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>

// Resources live in the static widgets library; make sure they are registered.
static void InitLumiclipResources() {
    Q_INIT_RESOURCE(lumiclip);
}

namespace lumiclip {

namespace {

// The dialog's client area in dialog units.
constexpr int kDialogWidthDu = 339;
constexpr int kDialogHeightDu = 335;

// The preview pane: an etched frame; the dialog paints the picture into it after the frame.
class PreviewPane final : public QFrame {
public:
    PreviewPane(QWidget* parent, std::function<void(QWidget*)> paint)
        : QFrame(parent), m_paint(std::move(paint)) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        QFrame::paintEvent(event);
        m_paint(this);
    }

private:
    std::function<void(QWidget*)> m_paint;
};

}  // namespace

CCaptureDlg::CCaptureDlg(Browser& browser, QWidget* parent, const QString& iniPath)
    : QDialog(parent), m_browser(browser), m_iniPath(iniPath) {
    InitLumiclipResources();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setWindowTitle(QStringLiteral("Ombrix Lumiclip"));
    m_hIcon.addFile(QStringLiteral(":/lumiclip/icon_16.png"));
    m_hIcon.addFile(QStringLiteral(":/lumiclip/icon_32.png"));
    m_hIcon.addFile(QStringLiteral(":/lumiclip/icon_48.png"));
    m_hIcon.addFile(QStringLiteral(":/lumiclip/icon_64.png"));
    m_hIcon.addFile(QStringLiteral(":/lumiclip/icon_128.png"));
    m_hIcon.addFile(QStringLiteral(":/lumiclip/icon_256.png"));
    m_picture.SetOwnerWindow(this);
    setFont(DialogFont());
    CreateMenu();
    CreateControls();
    OnInitDialog();
}

CCaptureDlg::~CCaptureDlg() {
    // The host of the latest capture goes with the window; by now no CreateImage of ours is waiting
    // (the modal run ends only after OnCapture has returned).
    m_pCaptureHost.reset();
}

void CCaptureDlg::CreateMenu() {
    m_menuBar = new QMenuBar(this);
    m_menuBar->setNativeMenuBar(false);
    const auto add = [this](QMenu* menu, const char* text, int command) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setData(command);
        m_actions.insert(command, action);
        connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    };
    QMenu* file = m_menuBar->addMenu(QString::fromUtf8("文件(&F)"));
    add(file, "文件另存为...(&S)", ID_SAVE_IMAGE_AS);
    file->addSeparator();
    add(file, "退出(&X)", ID_EXIT);
    QMenu* capture = m_menuBar->addMenu(QString::fromUtf8("截图(&C)"));
    add(capture, "开始截图(&C)", ID_START_CAPTURE);
    add(capture, "停止(&S)", ID_STOP_CAPTURE);
    capture->addSeparator();
    add(capture, "截图选项...(&O)", ID_OPTIONS);
    QMenu* help = m_menuBar->addMenu(QString::fromUtf8("帮助(&H)"));
    add(help, "检查新版本...(&U)", ID_CHECK_VERSION);
    help->addSeparator();
    add(help, "访问软件主页(&V)", ID_PRODUCT_PAGE);
    add(help, "访问vezuzad(&W )", ID_MAKER_PAGE);
    help->addSeparator();
    add(help, "关于...(&A)", ID_ABOUT);
}

void CCaptureDlg::CreateControls() {
    // Below the menu bar lies the client area of the template; every control sits at its rectangle in
    // dialog units, and nothing moves when the window is resized.
    const int menuHeight = m_menuBar->sizeHint().height();
    const DialogBaseUnits units = DialogBaseUnitsFor(font());
    m_client = new QWidget(this);
    const QSize clientSize(DialogXToPixels(kDialogWidthDu, units), DialogYToPixels(kDialogHeightDu, units));
    m_client->setGeometry(QRect(QPoint(0, menuHeight), clientSize));
    m_menuBar->setGeometry(0, 0, clientSize.width(), menuHeight);
    resize(clientSize.width(), clientSize.height() + menuHeight);

    const auto place = [&](QWidget* w, int id, int x, int y, int cx, int cy) {
        w->setGeometry(DialogRectToPixels(QRect(x, y, cx, cy), units));
        if (id != 0) {
            m_items.insert(id, w);
            w->setObjectName(QStringLiteral("item%1").arg(id));
        }
        return w;
    };
    const auto label = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* l = new QLabel(QString::fromUtf8(text), m_client);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        place(l, id, x, y, cx, cy);
        return l;
    };
    const auto button = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* b = new QPushButton(QString::fromUtf8(text), m_client);
        b->setFocusPolicy(Qt::StrongFocus);
        place(b, id, x, y, cx, cy);
        return b;
    };

    auto* banner = new QLabel(m_client);
    banner->setPixmap(QPixmap(QStringLiteral(":/lumiclip/banner.png")));
    banner->setGeometry(QRect(QPoint(0, 0), banner->pixmap().size()));
    banner->setObjectName(QStringLiteral("banner"));

    auto* link = label(IDC_LINK, "", 168, 63, 171, 10);
    link->setText(SiteRecommendationCaption());
    link->setWordWrap(false);
    label(0, "网站地址:", 8, 85, 39, 10);
    auto* url = new QLineEdit(m_client);
    place(url, IDC_URL, 57, 83, 192, 12);
    auto* capture = button(IDC_CAPTURE, "截取图片", 261, 82, 67, 14);
    auto* stop = button(IDC_STOP, "停    止", 261, 99, 68, 13);
    label(0, "截图预览:", 9, 108, 42, 11);
    auto* saveAs = button(IDC_SAVE_AS, "图片另存为...", 57, 106, 72, 12);
    auto* pane = new PreviewPane(m_client, [this](QWidget* w) { PaintPreview(w); });
    pane->setFrameStyle(QFrame::Box | QFrame::Sunken);
    place(pane, IDC_PREVIEW, 11, 124, 202, 190);
    place(new QGroupBox(QString::fromUtf8("文件信息"), m_client), 0, 221, 123, 116, 127);
    label(0, "路径:", 229, 138, 30, 10);
    label(IDC_PATH, "...", 229, 149, 103, 31)->setTextInteractionFlags(Qt::NoTextInteraction);
    label(0, "图像宽:", 228, 187, 34, 9);
    label(IDC_WIDTH, "...", 270, 188, 54, 10);
    label(0, "图像高:", 228, 201, 34, 9);
    label(IDC_HEIGHT, "...", 270, 202, 54, 10);
    label(0, "文件格式:", 228, 216, 38, 9);
    label(IDC_FORMAT, "...", 269, 216, 54, 10);
    label(0, "文件大小:", 228, 230, 38, 9);
    label(IDC_SIZE, "...", 269, 230, 54, 10);
    button(IDC_CHECK_VERSION, "检查新版本", 239, 276, 45, 14)->hide();
    auto* cancel = button(IDCANCEL, "退      出", 283, 275, 45, 14);
    cancel->hide();
    auto* status = label(IDC_STATUS, "", 0, 321, 241, 14);
    status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status->setWordWrap(false);
    auto* version = label(IDC_VERSION, "Ombrix Lumiclip", 242, 321, 97, 14);
    version->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    version->setWordWrap(false);

    // The visible tab stops: capture, address, save as, stop. Nothing else takes the focus by tabbing.
    for (QWidget* w : m_client->findChildren<QWidget*>()) {
        if (w != url && w != capture && w != stop && w != saveAs) {
            w->setFocusPolicy(Qt::NoFocus);
        }
    }
    setTabOrder(capture, url);
    setTabOrder(url, saveAs);
    setTabOrder(saveAs, stop);

    connect(capture, &QPushButton::clicked, this, [this] { OnCapture(); });
    connect(stop, &QPushButton::clicked, this, [this] { OnStop(); });
    connect(saveAs, &QPushButton::clicked, this, [this] { OnSaveImageAs(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    // Item 1022 has no action.
}

void CCaptureDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);
    m_strProgramDir = QCoreApplication::applicationDirPath();
    m_iniFile.SetPath(m_iniPath.isEmpty() ? SettingsFilePath() : m_iniPath);
    m_bPictureLoaded = false;
    m_bDocumentComplete = false;
    m_bCapturing = false;
    GetDlgItem(IDC_SAVE_AS)->setEnabled(false);
    m_strVersion = QStringLiteral(LUMICLIP_VERSION);
    SetItemText(IDC_VERSION, QStringLiteral("Ombrix Lumiclip ") + m_strVersion);
    m_link.SubclassDlgItem(qobject_cast<QLabel*>(GetDlgItem(IDC_LINK)));
    m_items.insert(IDC_LINK, &m_link);
    m_link.SetLink(SiteRecommendationLink(m_strVersion));
    m_link.SetUnderlineMode(CHyperLinkStatic::UnderlineNever);
    m_settings = LoadCaptureSettings(m_iniFile, &m_strUrl);
    m_strOutputPath = OutputPathFor(m_settings);
    UpdateData(false);
    // The first visible, enabled tab stop takes the focus.
    GetDlgItem(IDC_CAPTURE)->setFocus(Qt::OtherFocusReason);
}

void CCaptureDlg::SetItemText(int id, const QString& text) {
    if (auto* l = qobject_cast<QLabel*>(GetDlgItem(id))) {
        l->setText(text);
    } else if (auto* e = qobject_cast<QLineEdit*>(GetDlgItem(id))) {
        e->setText(text);
    }
}

bool CCaptureDlg::UpdateData(bool saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    dx.Text(qobject_cast<QLineEdit*>(GetDlgItem(IDC_URL)), m_strUrl);
    dx.MaxChars(m_strUrl, kMaxUrlLength);
    dx.Text(qobject_cast<QLabel*>(GetDlgItem(IDC_STATUS)), m_strStatus);
    return !dx.failed();
}

void CCaptureDlg::EnableControls(bool enable) {
    GetDlgItem(IDCANCEL)->setEnabled(enable);
    GetDlgItem(IDC_CAPTURE)->setEnabled(enable);
    GetDlgItem(IDC_SAVE_AS)->setEnabled(enable);
}

void CCaptureDlg::OnOK() {
    if (UpdateData(true)) {
        accept();
    }
}

void CCaptureDlg::OnCancel() {
    reject();
}

void CCaptureDlg::customEvent(QEvent* event) {
    if (event->type() == WM_CAPTURE_DOCUMENT_COMPLETE) {
        OnCaptureDocumentComplete();
        return;
    }
    QDialog::customEvent(event);
}

void CCaptureDlg::closeEvent(QCloseEvent* event) {
    // While the hidden cancel item is disabled (a capture is running) the close box does nothing.
    if (!GetDlgItem(IDCANCEL)->isEnabled()) {
        event->ignore();
        return;
    }
    event->accept();
    QDialog::closeEvent(event);
}

void CCaptureDlg::keyPressEvent(QKeyEvent* event) {
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // No default button: Enter outside a push button is the dialog's OK action.
        OnOK();
        return;
    }
    if (event->modifiers() == Qt::NoModifier && event->key() == Qt::Key_Escape) {
        // Escape is the cancel item's action, refused like the close box while that item is disabled.
        if (GetDlgItem(IDCANCEL)->isEnabled()) {
            OnCancel();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace lumiclip
