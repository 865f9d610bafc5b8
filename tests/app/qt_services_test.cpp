// The window's own Qt services: message boxes and the notification-area icon.
#include "app/qt_services.h"

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace taskhaul {
namespace {

// Runs `answer` on the message box that `ask` opens, once it is up.
MessageBoxes::Answer answerBox(
    const std::function<MessageBoxes::Answer()>& ask, const std::function<void(QMessageBox&)>& answer)
{
    bool answered = false;
    std::function<void()> poll = [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answered = true;
            answer(*box);
            return;
        }
        QTimer::singleShot(10, poll);
    };
    QTimer::singleShot(0, poll);
    const MessageBoxes::Answer result = ask();
    EXPECT_TRUE(answered);
    return result;
}

TEST(QtMessageBoxes, EnterAnswersTheExitQuestionWithNo)
{
    QWidget parent;
    QtMessageBoxes boxes(&parent);
    const QString text = QStringLiteral("The configuration information has changed.  Exit without saving?");
    QString defaultText;
    QStringList buttons;
    const auto answer = answerBox([&] { return boxes.confirmDefaultNo(QStringLiteral("Confirm"), text); },
        [&](QMessageBox& box) {
            EXPECT_EQ(box.text(), text);
            if (box.defaultButton())
                defaultText = box.defaultButton()->text();
            for (QAbstractButton* button : box.buttons())
                buttons << button->text();
            QTest::keyClick(&box, Qt::Key_Return);
        });
    EXPECT_EQ(answer, MessageBoxes::Answer::No);
    EXPECT_EQ(defaultText, "&No");
    EXPECT_EQ(buttons.size(), 2);

    // The other questions keep Yes as their default.
    const auto other
        = answerBox([&] { return boxes.confirm(QStringLiteral("Confirm"), QStringLiteral("Go on?")); },
            [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); });
    EXPECT_EQ(other, MessageBoxes::Answer::Yes);
}

TEST(QtTrayArea, LeftClickAndDoubleClickRestoreTheWindowTheRightButtonHasTheMenu)
{
    struct Case {
        QSystemTrayIcon::ActivationReason reason;
        bool restores;
    };
    const Case cases[] = {
        { QSystemTrayIcon::Trigger, true },
        { QSystemTrayIcon::DoubleClick, true },
        { QSystemTrayIcon::Context, false },
        { QSystemTrayIcon::MiddleClick, false },
        { QSystemTrayIcon::Unknown, false },
    };
    QMenu menu;
    QtTrayArea tray(QIcon(), &menu, nullptr);
    auto* icon = tray.findChild<QSystemTrayIcon*>();
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->contextMenu(), &menu);
    for (const Case c : cases) {
        int restores = 0;
        const auto connection = QObject::connect(&tray, &QtTrayArea::restoreRequested, [&] { ++restores; });
        emit icon->activated(c.reason);
        QObject::disconnect(connection);
        EXPECT_EQ(restores, c.restores ? 1 : 0) << int(c.reason);
        EXPECT_FALSE(menu.isVisible()) << int(c.reason); // a left click opens no menu
    }
}

} // namespace
} // namespace taskhaul
