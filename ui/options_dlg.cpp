#include "ui/options_dlg.h"

#include "core/image/image_format.h"

#include "ui/data_exchange.h"
#include "widgets/dialog_units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPushButton>

#include <cmath>
#include <functional>
#include <limits>

namespace lumiclip {

namespace {

// The dialog's client area in dialog units.
constexpr int kDialogWidthDu = 289;
constexpr int kDialogHeightDu = 181;

std::optional<int> TruncatedSide(double side) {
    if (!std::isfinite(side)) {
        return std::nullopt;
    }
    const double truncated = std::trunc(side);
    if (truncated > static_cast<double>(std::numeric_limits<int>::max()) ||
        truncated < static_cast<double>(std::numeric_limits<int>::min())) {
        return std::nullopt;
    }
    return static_cast<int>(truncated);
}

}  // namespace

std::optional<int> LockedImageHeight(int imageWidth, int viewWidth, int viewHeight) {
    if (viewWidth == 0 || viewHeight == 0) {
        return std::nullopt;
    }
    const double ratio = static_cast<double>(viewWidth) / static_cast<double>(viewHeight);
    return TruncatedSide(static_cast<double>(imageWidth) / ratio);
}

std::optional<int> LockedImageWidth(int imageHeight, int viewWidth, int viewHeight) {
    if (viewWidth == 0 || viewHeight == 0) {
        return std::nullopt;
    }
    const double ratio = static_cast<double>(viewWidth) / static_cast<double>(viewHeight);
    return TruncatedSide(ratio * static_cast<double>(imageHeight));
}

COptionsDlg::COptionsDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8("设置"));
    setFont(DialogFont());
    CreateControls();
}

COptionsDlg::~COptionsDlg() = default;

void COptionsDlg::CreateControls() {
    const DialogBaseUnits units = DialogBaseUnitsFor(font());
    setFixedSize(DialogXToPixels(kDialogWidthDu, units), DialogYToPixels(kDialogHeightDu, units));

    const auto place = [&](QWidget* w, int id, int x, int y, int cx, int cy) {
        w->setGeometry(DialogRectToPixels(QRect(x, y, cx, cy), units));
        if (id != 0) {
            m_items.insert(id, w);
            w->setObjectName(QStringLiteral("item%1").arg(id));
        }
    };
    const auto label = [&](const char* text, int x, int y, int cx) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(l, 0, x, y, cx, 8);
    };
    const auto edit = [&](int id, int x, int y, int cx, int cy) {
        auto* e = new QLineEdit(this);
        place(e, id, x, y, cx, cy);
        return e;
    };

    // Created in tab order: OK, Cancel, the fields from top to bottom, the lock box.
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    place(ok, IDOK, 232, 12, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    place(cancel, IDCANCEL, 232, 29, 50, 14);
    auto* group = new QGroupBox(QString::fromUtf8("截图设置"), this);
    place(group, 0, 7, 7, 217, 151);
    group->lower();

    auto* viewWidth = edit(IDC_VIEW_WIDTH, 89, 30, 42, 14);
    label("视角宽:(推荐810)", 20, 31, 68);
    label("像素", 137, 33, 20);
    auto* viewHeight = edit(IDC_VIEW_HEIGHT, 89, 49, 42, 14);
    label("视角高:(推荐600)", 20, 51, 68);
    label("像素", 137, 53, 20);
    auto* imageWidth = edit(IDC_IMAGE_WIDTH, 89, 70, 42, 14);
    label("截图文件宽:", 20, 73, 68);
    label("像素", 137, 73, 20);
    auto* imageHeight = edit(IDC_IMAGE_HEIGHT, 89, 89, 42, 14);
    label("截图文件高:", 20, 93, 68);
    label("像素", 137, 92, 20);
    m_comboFormat = new QComboBox(this);
    m_comboFormat->setEditable(false);
    m_comboFormat->setMaxVisibleItems(4);
    // The closed list is one edit field high; the template's 57 units include the dropped-down part.
    place(m_comboFormat, IDC_FORMAT, 89, 113, 63, 14);
    label("缺省图像格式:", 20, 115, 68);
    auto* url = edit(IDC_DEFAULT_URL, 89, 135, 130, 16);
    label("缺省网址:", 20, 137, 68);
    auto* lock = new QCheckBox(QString::fromUtf8("比例锁定"), this);
    place(lock, IDC_RATIO_LOCK, 163, 71, 53, 11);

    const QList<QWidget*> tabStops = {ok,          cancel,        viewWidth, viewHeight, imageWidth,
                                      imageHeight, m_comboFormat, url,       lock};
    for (qsizetype i = 0; i < tabStops.size(); ++i) {
        tabStops[i]->setFocusPolicy(Qt::StrongFocus);
        if (i > 0) {
            setTabOrder(tabStops[i - 1], tabStops[i]);
        }
    }
    // Leaving either image side is what the ratio lock follows.
    imageWidth->installEventFilter(this);
    imageHeight->installEventFilter(this);

    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

void COptionsDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bInitialized) {
        m_bInitialized = true;
        OnInitDialog();
    }
}

void COptionsDlg::OnInitDialog() {
    m_comboFormat->clear();
    m_comboFormat->addItems(ImageFormatNames(true));
    // The lock is on at every opening, whatever it was before.
    m_bRatioLock = true;
    UpdateData(false);
    GetDlgItem(IDOK)->setFocus(Qt::OtherFocusReason);
}

bool COptionsDlg::UpdateData(bool saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    const auto field = [this](int id) { return qobject_cast<QLineEdit*>(GetDlgItem(id)); };
    dx.Integer(field(IDC_IMAGE_WIDTH), m_nImageWidth);
    dx.MinMaxInt(m_nImageWidth, kMinSize, kMaxSize);
    dx.Integer(field(IDC_IMAGE_HEIGHT), m_nImageHeight);
    dx.MinMaxInt(m_nImageHeight, kMinSize, kMaxSize);
    dx.Text(field(IDC_DEFAULT_URL), m_strDefaultUrl);
    dx.MaxChars(m_strDefaultUrl, kMaxUrlLength);
    dx.Integer(field(IDC_VIEW_HEIGHT), m_nViewHeight);
    dx.MinMaxInt(m_nViewHeight, kMinSize, kMaxSize);
    dx.Integer(field(IDC_VIEW_WIDTH), m_nViewWidth);
    dx.MinMaxInt(m_nViewWidth, kMinSize, kMaxSize);
    dx.ComboText(m_comboFormat, m_strImageFormat);
    dx.MaxChars(m_strImageFormat, kMaxFormatLength);
    dx.Check(qobject_cast<QCheckBox*>(GetDlgItem(IDC_RATIO_LOCK)), m_bRatioLock);
    return !dx.failed();
}

void COptionsDlg::OnOK() {
    if (UpdateData(true)) {
        accept();
    }
}

void COptionsDlg::OnCancel() {
    reject();
}

bool COptionsDlg::isLockChecked() const {
    return qobject_cast<QCheckBox*>(GetDlgItem(IDC_RATIO_LOCK))->isChecked();
}

void COptionsDlg::OnKillFocusImageWidth() {
    LockStep([this] {
        if (const std::optional<int> height = LockedImageHeight(m_nImageWidth, m_nViewWidth, m_nViewHeight)) {
            m_nImageHeight = *height;
        }
    });
}

void COptionsDlg::OnKillFocusImageHeight() {
    LockStep([this] {
        if (const std::optional<int> width = LockedImageWidth(m_nImageHeight, m_nViewWidth, m_nViewHeight)) {
            m_nImageWidth = *width;
        }
    });
}

void COptionsDlg::LockStep(const std::function<void()>& recompute) {
    if (!isLockChecked()) {
        return;
    }
    // A failed check has shown its prompt and moved the focus; the ratio is applied all the same.
    const bool taken = UpdateData(true);
    recompute();
    UpdateData(false);
    if (!taken) {
        // Refilling the fields dropped the selection that the failing field was given.
        if (auto* field = qobject_cast<QLineEdit*>(focusWidget())) {
            field->selectAll();
        }
    }
}

bool COptionsDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FocusOut || m_bInLockStep || !isVisible()) {
        return QDialog::eventFilter(watched, event);
    }
    // Only the focus moving elsewhere in this dialog leaves a field; the window losing activation (to a
    // prompt, a menu or another program) does not, and the field gets the focus back with it.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) {
        return QDialog::eventFilter(watched, event);
    }
    // The field finishes losing the focus first (it drops its selection then), so that the focus and
    // selection a prompt gives it afterwards stay.
    m_bInLockStep = true;
    watched->event(event);
    if (watched == GetDlgItem(IDC_IMAGE_WIDTH)) {
        OnKillFocusImageWidth();
    } else if (watched == GetDlgItem(IDC_IMAGE_HEIGHT)) {
        OnKillFocusImageHeight();
    }
    m_bInLockStep = false;
    return true;
}

}  // namespace lumiclip
