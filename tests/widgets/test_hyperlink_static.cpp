#include "widgets/message_box.h"
#include "widgets/hyperlink_static.h"
#include "widgets/link_open.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWidget>

#include "support/test_util.h"

namespace lumiclip {
namespace {

TEST(FitRectToText, KeepsTheEdgeTheAlignmentNames) {
    const QRect window(100, 50, 200, 30);
    const QSize border(2, 2);
    const QSize text(60, 14);  // fitted: 62 x 16
    EXPECT_EQ(FitRectToText(window, border, text, Qt::AlignLeft | Qt::AlignTop), QRect(100, 50, 62, 16));
    EXPECT_EQ(FitRectToText(window, border, text, Qt::AlignRight | Qt::AlignTop), QRect(238, 50, 62, 16));
    EXPECT_EQ(FitRectToText(window, border, text, Qt::AlignHCenter | Qt::AlignVCenter),
              QRect(169, 57, 62, 16));
    // An odd difference leaves the centred control one pixel wider (taller) than needed.
    EXPECT_EQ(FitRectToText(QRect(0, 0, 101, 31), border, text, Qt::AlignCenter), QRect(19, 7, 63, 17));
    // Growing: truncation toward zero.
    EXPECT_EQ(FitRectToText(QRect(0, 0, 59, 10), border, text, Qt::AlignHCenter), QRect(-1, 0, 61, 16));
}

TEST(FallbackCommand, CutsAtThePlaceholder) {
    struct Case {
        const char* exec;
        const char* command;
    };
    const Case cases[] = {
        {"browser \"%1\" --new-window", "browser  ADDR"},
        {"browser %1 --new-window", "browser  ADDR"},
        {"firefox %u", "firefox  ADDR"},
        {"chromium --flag %U", "chromium --flag  ADDR"},
        {"viewer %f", "viewer  ADDR"},
        {"viewer \"%F\" -x", "viewer  ADDR"},
        {"browser --new-window", "browser --new-window ADDR"},
        {"b %u \"%1\"", "b %u  ADDR"},  // the quoted %1 comes first in the search order
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FallbackCommand(QString::fromUtf8(c.exec), QStringLiteral("ADDR")),
                  QString::fromUtf8(c.command))
            << c.exec;
    }
}

TEST(DesktopEntry, ReadsExecOfTheMainGroupOnly) {
    const QString text = QStringLiteral(
        "[Desktop Action new]\nExec=other --new\n[Desktop Entry]\nName=B\n# Exec=commented\n"
        "Exec = /opt/my\\sbrowser %u\n");
    EXPECT_EQ(DesktopEntryExec(text), QStringLiteral("/opt/my browser %u"));
    EXPECT_TRUE(DesktopEntryExec(QStringLiteral("[Desktop Entry]\nName=x\n")).isEmpty());
}

TEST(DesktopEntry, FoundInDataFoldersAndSubFolders) {
    QTemporaryDir first;
    QTemporaryDir second;
    ASSERT_TRUE(QDir().mkpath(second.path() + QStringLiteral("/applications/kde")));
    ASSERT_TRUE(test::writeFile(second.path() + QStringLiteral("/applications/kde/web.desktop"), "x"));
    ASSERT_TRUE(test::writeFile(second.path() + QStringLiteral("/applications/b.desktop"), "x"));
    const QStringList dirs = {first.path(), second.path()};
    EXPECT_EQ(FindDesktopFile(QStringLiteral("b.desktop"), dirs),
              second.path() + QStringLiteral("/applications/b.desktop"));
    EXPECT_EQ(FindDesktopFile(QStringLiteral("kde-web.desktop"), dirs),
              second.path() + QStringLiteral("/applications/kde/web.desktop"));
    EXPECT_TRUE(FindDesktopFile(QStringLiteral("none.desktop"), dirs).isEmpty());
    EXPECT_TRUE(FindDesktopFile(QStringLiteral("../b.desktop"), dirs).isEmpty());
}

TEST(OpenErrorText, MapsCodes) {
    EXPECT_EQ(OpenErrorText(26), QStringLiteral("A sharing violation occurred. "));
    EXPECT_EQ(OpenErrorText(1), QStringLiteral("Unknown Error (1) occurred."));
    EXPECT_EQ(OpenErrorText(-5), QStringLiteral("Unknown Error (-5) occurred."));
    EXPECT_EQ(OpenErrorText(33), QStringLiteral("Unknown Error (33) occurred."));
    EXPECT_EQ(OpenErrorText(2), QStringLiteral("The specified file was not found."));
    EXPECT_EQ(OpenErrorText(31),
              QStringLiteral("There is no application associated\nwith the given filename extension."));
}

// Replaces the desktop and the message boxes for one test and records what happens.
class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        LinkOpenServices fake;
        fake.openUrl = [this](const QUrl& url) {
            opened.append(url.toString());
            return desktopOpens;
        };
        fake.defaultHtmlHandler = [this] { return handlerId; };
        fake.startDetached = [this](const QString& program, const QStringList& args) {
            started.append(program + QLatin1Char('|') + args.join(QLatin1Char('|')));
            return startSucceeds;
        };
        fake.beep = [this] { ++beeps; };
        m_previousServices = SetLinkOpenServices(fake);
        m_previousBoxes = SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            boxes.append(r.text);
            return MessageAnswer::Ok;
        });
        m_oldHome = qgetenv("XDG_DATA_HOME");
        m_oldDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        qputenv("XDG_DATA_DIRS", m_data.path().toUtf8());
        QDir().mkpath(m_data.path() + QStringLiteral("/applications"));
        parent.resize(400, 200);
        link = new CHyperLinkStatic(&parent);
        link->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        link->setGeometry(10, 10, 300, 20);
    }
    void TearDown() override {
        SetLinkOpenServices(m_previousServices);
        SetMessageBoxHandler(m_previousBoxes);
        qputenv("XDG_DATA_HOME", m_oldHome);
        qputenv("XDG_DATA_DIRS", m_oldDirs);
    }
    void writeEntry(const char* id, const QByteArray& text) {
        ASSERT_TRUE(
            test::writeFile(m_data.path() + QStringLiteral("/applications/") + QLatin1String(id), text));
    }
    void moveOver() {
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), link->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(link, &move);
    }
    void click() {
        const QPointF at(3, 3);
        QMouseEvent press(QEvent::MouseButtonPress, at, link->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(link, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, link->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(link, &release);
    }

    QWidget parent;
    CHyperLinkStatic* link = nullptr;
    bool desktopOpens = true;
    bool startSucceeds = true;
    QString handlerId;
    QStringList opened;
    QStringList started;
    QStringList boxes;
    int beeps = 0;

private:
    QTemporaryDir m_data;
    LinkOpenServices m_previousServices;
    MessageBoxHandler m_previousBoxes;
    QByteArray m_oldHome;
    QByteArray m_oldDirs;
};

TEST_F(LinkFixture, CaptionAndTooltip) {
    link->SetLink(QStringLiteral("http://a.example/"));
    link->Attach();
    EXPECT_EQ(link->text(), QStringLiteral("http://a.example/"));
    EXPECT_EQ(link->ToolTipText(), QStringLiteral("http://a.example/"));
    link->SetLink(QStringLiteral("http://b.example/"));
    EXPECT_EQ(link->text(), QStringLiteral("http://a.example/"));  // a caption stays
    EXPECT_EQ(link->ToolTipText(), QStringLiteral("http://b.example/"));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(LinkFixture, FitsToTextWithUnderlinedFont) {
    link->setText(QStringLiteral("caption text"));
    link->Attach();
    QFont underlined = link->font();
    underlined.setUnderline(true);
    const QFontMetrics metrics(underlined);
    EXPECT_EQ(link->geometry(),
              QRect(10, 10, metrics.horizontalAdvance(QStringLiteral("caption text")), metrics.height()));
    EXPECT_EQ(link->ToolRect(), link->rect());
}

TEST_F(LinkFixture, SuccessfulClickTurnsVisitedUntilAFailure) {
    link->setText(QStringLiteral("http://a.example/"));
    link->Attach();
    EXPECT_EQ(link->TextColor(), QColor(0, 0, 238));
    click();
    EXPECT_EQ(opened, QStringList{QStringLiteral("http://a.example/")});
    EXPECT_TRUE(link->IsVisited());
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(85, 26, 139));
    EXPECT_TRUE(boxes.isEmpty());
    desktopOpens = false;  // and no registered handler
    click();
    EXPECT_FALSE(link->IsVisited());
    EXPECT_EQ(link->TextColor(), QColor(0, 0, 238));
    EXPECT_EQ(beeps, 1);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.at(0), QStringLiteral("Unable to open hyperlink:\n\n") + OpenErrorText(31));
}

TEST_F(LinkFixture, FallbackStartsTheRegisteredHandler) {
    desktopOpens = false;
    handlerId = QStringLiteral("web.desktop");
    writeEntry("web.desktop", "[Desktop Entry]\nExec=browser \"%1\" --new-window\n");
    link->setText(QStringLiteral("http://a.example/"));
    link->Attach();
    link->OnClicked();
    EXPECT_EQ(started, QStringList{QStringLiteral("browser|http://a.example/")});
    EXPECT_TRUE(link->IsVisited());
    // A handler that cannot be started is reported as a missing file.
    startSucceeds = false;
    link->OnClicked();
    EXPECT_FALSE(link->IsVisited());
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.at(0), QStringLiteral("Unable to open hyperlink:\n\nThe specified file was not found."));
}

TEST_F(LinkFixture, AddressWithBlanksStaysOneArgument) {
    desktopOpens = false;
    handlerId = QStringLiteral("web.desktop");
    writeEntry("web.desktop", "[Desktop Entry]\nExec=browser %u\n");
    EXPECT_EQ(OpenLinkAddress(QStringLiteral("http://a.example/ --evil")), kOpenSucceeded);
    EXPECT_EQ(started, QStringList{QStringLiteral("browser|http://a.example/ --evil")});
}

TEST_F(LinkFixture, HoverColourAndTimer) {
    link->setText(QStringLiteral("http://a.example/"));
    link->Attach();
    QPoint pointer = link->mapToGlobal(QPoint(5, 5));
    link->SetPointerLocator([&pointer] { return pointer; });
    moveOver();
    EXPECT_EQ(link->TextColor(), QColor(255, 0, 0));
    EXPECT_TRUE(link->font().underline());  // underlined on hover by default
    EXPECT_TRUE(link->IsHoverTimerActive());
    pointer = link->mapToGlobal(QPoint(-50, -50));
    EXPECT_TRUE(test::waitUntil([&] { return !link->IsHovering(); }, 1000));
    EXPECT_FALSE(link->IsHoverTimerActive());
    EXPECT_FALSE(link->font().underline());
    EXPECT_EQ(link->TextColor(), QColor(0, 0, 238));
}

TEST_F(LinkFixture, UnderlineModes) {
    link->setText(QStringLiteral("http://a.example/"));
    link->Attach();
    QPoint pointer = link->mapToGlobal(QPoint(-50, -50));
    link->SetPointerLocator([&pointer] { return pointer; });
    link->SetUnderlineMode(CHyperLinkStatic::UnderlineNever);
    moveOver();
    EXPECT_FALSE(link->font().underline());
    link->SetUnderlineMode(CHyperLinkStatic::UnderlineAlways);
    EXPECT_TRUE(link->font().underline());
    EXPECT_TRUE(test::waitUntil([&] { return !link->IsHovering(); }, 1000));
    EXPECT_TRUE(link->font().underline());  // stays after the hover
}

TEST_F(LinkFixture, SameUnderlineModeDoesNotRedraw) {
    link->setText(QStringLiteral("http://a.example/"));
    link->Attach();
    link->SetUnderlineMode(CHyperLinkStatic::UnderlineNever);
    parent.show();
    test::waitUntil([] { return false; }, 50);
    int paints = 0;
    struct Counter : QObject {
        int* count;
        explicit Counter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) {
                ++*count;
            }
            return false;
        }
    } counter(&paints);
    link->installEventFilter(&counter);
    link->SetUnderlineMode(CHyperLinkStatic::UnderlineNever);
    test::waitUntil([] { return false; }, 50);
    EXPECT_EQ(paints, 0);
    link->SetUnderlineMode(CHyperLinkStatic::UnderlineAlways);
    EXPECT_TRUE(test::waitUntil([&] { return paints > 0; }, 1000));
    link->removeEventFilter(&counter);
}

}  // namespace
}  // namespace lumiclip
