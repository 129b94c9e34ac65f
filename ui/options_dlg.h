#pragma once

#include "core/capture/capture_request.h"

#include <QDialog>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace lumiclip {

// The other side of the ratio lock: the image side that keeps the view's proportions, r = viewWidth ÷
// viewHeight in double precision, truncated toward zero. Nothing when the ratio or the result is not a
// finite int (a view side of 0 while its field fails its check, or absurd sizes); the caller then keeps
// the side it had.
std::optional<int> LockedImageHeight(int imageWidth, int viewWidth, int viewHeight);
std::optional<int> LockedImageWidth(int imageHeight, int viewWidth, int viewHeight);

// The settings dialog "设置": view size, image size, default image format and default address. The
// caller fills the members, runs exec() (its first showing loads the members into the fields) and, on
// Accepted, reads them back. OK takes every value back with its checks and ends the dialog only when all
// pass. While the lock box is checked, leaving the image width or height field takes all values back and
// recomputes the other image side from the view's proportions.
class COptionsDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(COptionsDlg)

public:
    enum : int {
        IDOK = 1,
        IDCANCEL = 2,
        IDC_DEFAULT_URL = 1008,
        IDC_VIEW_WIDTH = 1015,
        IDC_VIEW_HEIGHT = 1016,
        IDC_IMAGE_WIDTH = 1017,
        IDC_IMAGE_HEIGHT = 1018,
        IDC_FORMAT = 1019,
        IDC_RATIO_LOCK = 1028,
    };
    // The desktop's sides, from the one rule of the capture request's profiles.
    static constexpr int kMinSize = kDesktopProfile.minSide;
    static constexpr int kMaxSize = kDesktopProfile.maxSide;
    static constexpr int kMaxUrlLength = 255;
    static constexpr int kMaxFormatLength = 10;

    explicit COptionsDlg(QWidget* parent = nullptr);
    ~COptionsDlg() override;

    QWidget* GetDlgItem(int id) const { return m_items.value(id, nullptr); }

    // Pushes the members to the controls, or takes the controls' values back with their checks (false
    // at the first value that fails; it has shown its prompt and holds the focus).
    bool UpdateData(bool saveAndValidate = true);

    QComboBox* m_comboFormat = nullptr;
    int m_nImageWidth = 0;
    int m_nImageHeight = 0;
    QString m_strDefaultUrl;
    int m_nViewHeight = 0;
    int m_nViewWidth = 0;
    QString m_strImageFormat;
    bool m_bRatioLock = false;

protected:
    // The first show (exec() included) initialises the dialog from the members.
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    void OnOK();
    void OnCancel();
    void OnKillFocusImageWidth();
    void OnKillFocusImageHeight();
    // With the lock box checked: takes all values back, recomputes, and pushes them again.
    void LockStep(const std::function<void()>& recompute);
    bool isLockChecked() const;

    QHash<int, QWidget*> m_items;
    bool m_bInitialized = false;
    // Set while a lock step runs: its prompts move the focus, which must not start another one.
    bool m_bInLockStep = false;
};

}  // namespace lumiclip
