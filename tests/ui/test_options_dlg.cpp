#include "ui/data_exchange.h"
#include "widgets/message_box.h"
#include "widgets/message_box_widgets.h"
#include "ui/options_dlg.h"
#include "widgets/dialog_units.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <climits>
#include <memory>
#include <vector>

namespace lumiclip::test {
namespace {

TEST(ParseFieldIntegerTest, AcceptsOnlyASignedDecimalBetweenBlanksAndTabs) {
    struct Case {
        const char* text;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"180", 180},
        {" \t42\t ", 42},
        {"+7", 7},
        {"-5", -5},
        {"0010", 10},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"", std::nullopt},
        {" \t ", std::nullopt},
        {"-", std::nullopt},
        {"12px", std::nullopt},
        {"1 2", std::nullopt},
        {"abc", std::nullopt},
        {"0x10", std::nullopt},
        {"1.5", std::nullopt},
        {"\n5", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"\xd9\xa3", std::nullopt},  // a digit of another script
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseFieldInteger(QString::fromUtf8(c.text)), c.expected) << c.text;
    }
}

TEST(RatioLockTest, TruncatesTheProportionalSideTowardZero) {
    EXPECT_EQ(LockedImageHeight(180, 810, 600), 133);
    EXPECT_EQ(LockedImageWidth(138, 810, 600), 186);
    // 81 / 1.35 comes out just below 60 in double precision.
    EXPECT_EQ(LockedImageHeight(81, 810, 600), 59);
    EXPECT_EQ(LockedImageHeight(300, 1024, 768), 225);
    EXPECT_EQ(LockedImageWidth(225, 1024, 768), 300);
    EXPECT_EQ(LockedImageHeight(5, 810, 600), 3);
    EXPECT_EQ(LockedImageHeight(-100, 810, 600), -74);
}

TEST(RatioLockTest, GivesNothingForAZeroViewSideOrAnOverflowingResult) {
    EXPECT_EQ(LockedImageHeight(180, 0, 600), std::nullopt);
    EXPECT_EQ(LockedImageHeight(180, 810, 0), std::nullopt);
    EXPECT_EQ(LockedImageWidth(138, 0, 600), std::nullopt);
    EXPECT_EQ(LockedImageWidth(138, 810, 0), std::nullopt);
    EXPECT_EQ(LockedImageWidth(138, 0, 0), std::nullopt);
    EXPECT_EQ(LockedImageWidth(INT_MAX, INT_MAX, 1), std::nullopt);
    EXPECT_EQ(LockedImageHeight(INT_MAX, 1, INT_MAX), std::nullopt);
    EXPECT_EQ(LockedImageHeight(INT_MAX, 2, 1), INT_MAX / 2);
}

// A settings dialog filled with the main window's defaults, shown and active, with every message box
// recorded and answered OK.
class OptionsDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = SetMessageBoxHandler([this](const MessageBoxRequest& request) {
            m_boxes.push_back(request.text);
            return MessageAnswer::Ok;
        });
    }
    void TearDown() override {
        m_dlg.reset();
        SetMessageBoxHandler(m_previous);
    }

    void open(int viewWidth = 810, int viewHeight = 600, int imageWidth = 180, int imageHeight = 138,
              const QString& format = QStringLiteral("JPG")) {
        m_dlg = std::make_unique<COptionsDlg>();
        m_dlg->m_nViewWidth = viewWidth;
        m_dlg->m_nViewHeight = viewHeight;
        m_dlg->m_nImageWidth = imageWidth;
        m_dlg->m_nImageHeight = imageHeight;
        m_dlg->m_strImageFormat = format;
        m_dlg->m_strDefaultUrl = QStringLiteral("http://127.0.0.1/start");
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    }

    QLineEdit* field(int id) const { return qobject_cast<QLineEdit*>(m_dlg->GetDlgItem(id)); }
    QPushButton* button(int id) const { return qobject_cast<QPushButton*>(m_dlg->GetDlgItem(id)); }
    QCheckBox* lockBox() const {
        return qobject_cast<QCheckBox*>(m_dlg->GetDlgItem(COptionsDlg::IDC_RATIO_LOCK));
    }
    QString text(int id) const { return field(id)->text(); }

    // Types into a field and then moves the focus to another control, as a person does.
    void typeAndLeave(int id, const QString& value, QWidget* next) const {
        field(id)->setFocus(Qt::MouseFocusReason);
        field(id)->setText(value);
        next->setFocus(Qt::TabFocusReason);
    }

    std::unique_ptr<COptionsDlg> m_dlg;
    std::vector<QString> m_boxes;
    MessageBoxHandler m_previous;
};

TEST_F(OptionsDlgTest, OpensWithTheMembersTheLockOnAndTheFocusOnOk) {
    open();
    EXPECT_EQ(m_dlg->windowTitle(), QString::fromUtf8("设置"));
    EXPECT_EQ(text(COptionsDlg::IDC_VIEW_WIDTH), QStringLiteral("810"));
    EXPECT_EQ(text(COptionsDlg::IDC_VIEW_HEIGHT), QStringLiteral("600"));
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("180"));
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("138"));
    EXPECT_EQ(text(COptionsDlg::IDC_DEFAULT_URL), QStringLiteral("http://127.0.0.1/start"));
    EXPECT_TRUE(lockBox()->isChecked());
    EXPECT_EQ(lockBox()->text(), QString::fromUtf8("比例锁定"));
    EXPECT_EQ(QApplication::focusWidget(), button(COptionsDlg::IDOK));
    ASSERT_EQ(m_dlg->m_comboFormat->count(), 3);
    EXPECT_EQ(m_dlg->m_comboFormat->itemText(0), QStringLiteral("JPG"));
    EXPECT_EQ(m_dlg->m_comboFormat->itemText(1), QStringLiteral("GIF"));
    EXPECT_EQ(m_dlg->m_comboFormat->itemText(2), QStringLiteral("PNG"));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(OptionsDlgTest, TabsThroughItsControlsInTemplateOrder) {
    open();
    const int order[] = {COptionsDlg::IDOK,
                         COptionsDlg::IDCANCEL,
                         COptionsDlg::IDC_VIEW_WIDTH,
                         COptionsDlg::IDC_VIEW_HEIGHT,
                         COptionsDlg::IDC_IMAGE_WIDTH,
                         COptionsDlg::IDC_IMAGE_HEIGHT,
                         COptionsDlg::IDC_FORMAT,
                         COptionsDlg::IDC_DEFAULT_URL,
                         COptionsDlg::IDC_RATIO_LOCK};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget* w = m_dlg->GetDlgItem(order[i])->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(m_dlg.get())) {
            w = w->nextInFocusChain();
        }
        EXPECT_EQ(w, m_dlg->GetDlgItem(order[i + 1])) << "after item " << order[i];
    }
}

TEST_F(OptionsDlgTest, ControlsSitAtTheirDialogUnitRectangles) {
    open();
    const QFont font = m_dlg->font();
    EXPECT_EQ(m_dlg->GetDlgItem(COptionsDlg::IDOK)->geometry(),
              DialogRectToPixels(QRect(232, 12, 50, 14), font));
    EXPECT_EQ(m_dlg->GetDlgItem(COptionsDlg::IDC_IMAGE_HEIGHT)->geometry(),
              DialogRectToPixels(QRect(89, 89, 42, 14), font));
    EXPECT_EQ(m_dlg->GetDlgItem(COptionsDlg::IDC_DEFAULT_URL)->geometry(),
              DialogRectToPixels(QRect(89, 135, 130, 16), font));
    EXPECT_EQ(m_dlg->GetDlgItem(COptionsDlg::IDC_RATIO_LOCK)->geometry(),
              DialogRectToPixels(QRect(163, 71, 53, 11), font));
    EXPECT_EQ(m_dlg->size(), DialogRectToPixels(QRect(0, 0, 289, 181), font).size());
}

TEST_F(OptionsDlgTest, LeavingAnImageSideWithTheLockOnRecomputesTheOther) {
    open();
    QWidget* ok = button(COptionsDlg::IDOK);
    typeAndLeave(COptionsDlg::IDC_IMAGE_WIDTH, QStringLiteral("180"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("133"));
    EXPECT_EQ(m_dlg->m_nImageHeight, 133);
    typeAndLeave(COptionsDlg::IDC_IMAGE_HEIGHT, QStringLiteral("138"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("186"));
    typeAndLeave(COptionsDlg::IDC_IMAGE_WIDTH, QStringLiteral("81"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("59"));
    // Tabbing out of the field is leaving it too; the value is read with blanks around it.
    field(COptionsDlg::IDC_IMAGE_WIDTH)->setFocus(Qt::MouseFocusReason);
    field(COptionsDlg::IDC_IMAGE_WIDTH)->setText(QStringLiteral(" 90\t"));
    QTest::keyClick(field(COptionsDlg::IDC_IMAGE_WIDTH), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), field(COptionsDlg::IDC_IMAGE_HEIGHT));
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("90"));
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("66"));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(OptionsDlgTest, TheLockFollowsTheViewSizeAsTypedAndOnlyWhenLeavingAnImageSide) {
    open();
    QWidget* ok = button(COptionsDlg::IDOK);
    typeAndLeave(COptionsDlg::IDC_VIEW_WIDTH, QStringLiteral("1024"), ok);
    typeAndLeave(COptionsDlg::IDC_VIEW_HEIGHT, QStringLiteral("768"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("138"));  // view changes recompute nothing
    typeAndLeave(COptionsDlg::IDC_IMAGE_WIDTH, QStringLiteral("300"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("225"));
    typeAndLeave(COptionsDlg::IDC_IMAGE_HEIGHT, QStringLiteral("225"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("300"));
}

TEST_F(OptionsDlgTest, UncheckingTheLockStopsTheRecomputingUntilItIsCheckedAgain) {
    open();
    QWidget* ok = button(COptionsDlg::IDOK);
    QTest::mouseClick(lockBox(), Qt::LeftButton);
    ASSERT_FALSE(lockBox()->isChecked());
    typeAndLeave(COptionsDlg::IDC_IMAGE_WIDTH, QStringLiteral("400"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("138"));
    typeAndLeave(COptionsDlg::IDC_IMAGE_HEIGHT, QStringLiteral("500"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("400"));
    QTest::mouseClick(lockBox(), Qt::LeftButton);
    ASSERT_TRUE(lockBox()->isChecked());
    typeAndLeave(COptionsDlg::IDC_IMAGE_HEIGHT, QStringLiteral("500"), ok);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("675"));
    // The box's state reaches the member when OK takes the values back.
    QTest::mouseClick(lockBox(), Qt::LeftButton);
    QTest::mouseClick(button(COptionsDlg::IDOK), Qt::LeftButton);
    EXPECT_EQ(m_dlg->result(), QDialog::Accepted);
    EXPECT_FALSE(m_dlg->m_bRatioLock);
}

TEST_F(OptionsDlgTest, AnOutOfRangeSidePromptsAndStillGivesTheOtherSide) {
    open();
    typeAndLeave(COptionsDlg::IDC_IMAGE_WIDTH, QStringLiteral("5"), button(COptionsDlg::IDOK));
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0], QString::fromUtf8("请输入一个介于 10 和 1024 之间的整数。"));
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("3"));
    EXPECT_EQ(QApplication::focusWidget(), field(COptionsDlg::IDC_IMAGE_WIDTH));
}

TEST_F(OptionsDlgTest, AFailedTakeBackLeavesTheLaterMembersAsTheyWere) {
    open();
    // The view width comes after the image height in the exchange; its new text never reaches the
    // member, so the lock uses 810 and the push shows 810 again.
    field(COptionsDlg::IDC_VIEW_WIDTH)->setText(QStringLiteral("1000"));
    field(COptionsDlg::IDC_IMAGE_HEIGHT)->setText(QStringLiteral("abc"));
    typeAndLeave(COptionsDlg::IDC_IMAGE_WIDTH, QStringLiteral("270"), button(COptionsDlg::IDOK));
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0], QString::fromUtf8("请输入一个整数。"));
    EXPECT_EQ(m_dlg->m_nViewWidth, 810);
    EXPECT_EQ(text(COptionsDlg::IDC_VIEW_WIDTH), QStringLiteral("810"));
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("200"));
}

TEST_F(OptionsDlgTest, AZeroViewSideLeavesTheOtherImageSideAlone) {
    open();
    field(COptionsDlg::IDC_VIEW_HEIGHT)->setText(QStringLiteral("0"));
    typeAndLeave(COptionsDlg::IDC_IMAGE_HEIGHT, QStringLiteral("100"), button(COptionsDlg::IDOK));
    ASSERT_EQ(m_boxes.size(), 1U);  // the view height's range prompt
    EXPECT_EQ(m_dlg->m_nViewHeight, 0);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("180"));
    EXPECT_EQ(QApplication::focusWidget(), field(COptionsDlg::IDC_VIEW_HEIGHT));
}

TEST_F(OptionsDlgTest, ARealPromptWhileLeavingAFieldRunsTheLockOnce) {
    // A window's prompt takes the activation from the dialog, and with it the focus from the field
    // being entered; that must not count as leaving it.
    open();
    InstallWidgetMessageBoxes();
    int prompts = 0;
    QTimer closer;
    closer.setInterval(20);
    QObject::connect(&closer, &QTimer::timeout, &closer, [&prompts] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++prompts;
            box->accept();
        }
    });
    closer.start();
    field(COptionsDlg::IDC_IMAGE_WIDTH)->setText(QStringLiteral("5"));
    field(COptionsDlg::IDC_IMAGE_HEIGHT)->setText(QStringLiteral("7"));
    field(COptionsDlg::IDC_IMAGE_WIDTH)->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(field(COptionsDlg::IDC_IMAGE_WIDTH), Qt::Key_Tab);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("3"));
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("5"));
    // The failing field holds the focus, its text selected for typing over.
    QLineEdit* width = field(COptionsDlg::IDC_IMAGE_WIDTH);
    EXPECT_TRUE(QTest::qWaitFor([width] { return QApplication::focusWidget() == width; }, 2000));
    EXPECT_EQ(width->selectedText(), QStringLiteral("5"));
    // Typing replaces it, and leaving it runs the lock again: the height of 3 now fails its check,
    // after the width was read.
    QTest::keyClicks(width, QStringLiteral("54"));
    QTest::keyClick(width, Qt::Key_Tab);
    closer.stop();
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_WIDTH), QStringLiteral("54"));
    EXPECT_EQ(text(COptionsDlg::IDC_IMAGE_HEIGHT), QStringLiteral("40"));
    EXPECT_EQ(prompts, 2);
}

TEST_F(OptionsDlgTest, OkWithANonNumberKeepsTheDialogOpenWithTheFocusOnThatField) {
    open();
    field(COptionsDlg::IDC_VIEW_HEIGHT)->setText(QStringLiteral("abc"));
    field(COptionsDlg::IDC_VIEW_WIDTH)->setText(QStringLiteral("1000"));
    QTest::mouseClick(button(COptionsDlg::IDOK), Qt::LeftButton);
    EXPECT_TRUE(m_dlg->isVisible());
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0], QString::fromUtf8("请输入一个整数。"));
    EXPECT_EQ(QApplication::focusWidget(), field(COptionsDlg::IDC_VIEW_HEIGHT));
    EXPECT_EQ(field(COptionsDlg::IDC_VIEW_HEIGHT)->selectedText(), QStringLiteral("abc"));
    EXPECT_EQ(m_dlg->m_nViewHeight, 600);
    EXPECT_EQ(m_dlg->m_nViewWidth, 810);  // after the failing step
    // Mended, OK goes through.
    field(COptionsDlg::IDC_VIEW_HEIGHT)->setText(QStringLiteral("700"));
    QTest::mouseClick(button(COptionsDlg::IDOK), Qt::LeftButton);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), QDialog::Accepted);
    EXPECT_EQ(m_dlg->m_nViewHeight, 700);
    EXPECT_EQ(m_dlg->m_nViewWidth, 1000);
}

TEST_F(OptionsDlgTest, AnAddressOverTheLimitIsRefusedOnOk) {
    open();
    m_dlg->m_strDefaultUrl = QStringLiteral("http://x.test/") + QString(300, QLatin1Char('a'));
    m_dlg->UpdateData(false);
    EXPECT_FALSE(m_dlg->UpdateData(true));
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0], QString::fromUtf8("请输入不超过 255 个字符。"));
    EXPECT_EQ(QApplication::focusWidget(), field(COptionsDlg::IDC_DEFAULT_URL));
    // Typing cannot go past the limit.
    field(COptionsDlg::IDC_DEFAULT_URL)->clear();
    QTest::keyClicks(field(COptionsDlg::IDC_DEFAULT_URL), QString(300, QLatin1Char('b')));
    EXPECT_EQ(text(COptionsDlg::IDC_DEFAULT_URL).size(), COptionsDlg::kMaxUrlLength);
}

TEST_F(OptionsDlgTest, TheFormatListSelectsByPrefixIgnoringCase) {
    struct Case {
        const char* stored;
        int selected;
        const char* takenBack;
    };
    const Case cases[] = {{"png", 2, "PNG"}, {"GIF", 1, "GIF"}, {"j", 0, "JPG"},
                          {"", 0, "JPG"},    {"BMP", -1, ""},   {"PNGX", -1, ""}};
    for (const Case& c : cases) {
        open(810, 600, 180, 138, QString::fromUtf8(c.stored));
        EXPECT_EQ(m_dlg->m_comboFormat->currentIndex(), c.selected) << c.stored;
        QTest::mouseClick(button(COptionsDlg::IDOK), Qt::LeftButton);
        EXPECT_EQ(m_dlg->result(), QDialog::Accepted) << c.stored;
        EXPECT_EQ(m_dlg->m_strImageFormat, QString::fromUtf8(c.takenBack)) << c.stored;
    }
}

TEST_F(OptionsDlgTest, LeavingAnImageSideTowardCancelStillRunsTheLock) {
    open();
    field(COptionsDlg::IDC_IMAGE_WIDTH)->setFocus(Qt::MouseFocusReason);
    field(COptionsDlg::IDC_IMAGE_WIDTH)->setText(QStringLiteral("5"));
    QTest::mouseClick(button(COptionsDlg::IDCANCEL), Qt::LeftButton);
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0], QString::fromUtf8("请输入一个介于 10 和 1024 之间的整数。"));
    EXPECT_EQ(m_dlg->m_nImageHeight, 3);
    EXPECT_EQ(m_dlg->result(), QDialog::Rejected);
}

TEST_F(OptionsDlgTest, EscapeAndTheCloseBoxCancelWithoutTakingBack) {
    for (const bool escape : {true, false}) {
        open();
        field(COptionsDlg::IDC_VIEW_WIDTH)->setText(QStringLiteral("abc"));
        if (escape) {
            QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        } else {
            m_dlg->close();
        }
        EXPECT_FALSE(m_dlg->isVisible());
        EXPECT_EQ(m_dlg->result(), QDialog::Rejected);
        EXPECT_TRUE(m_boxes.empty());
        EXPECT_EQ(m_dlg->m_nViewWidth, 810);
    }
}

}  // namespace
}  // namespace lumiclip::test
