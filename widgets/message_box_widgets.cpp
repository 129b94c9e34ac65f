#include "widgets/message_box_widgets.h"

#include "widgets/message_box.h"

#include <QMessageBox>
#include <QWidget>

namespace lumiclip {

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::None:
            return QMessageBox::NoIcon;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Stop:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

MessageAnswer showWithWidgets(const MessageBoxRequest& request) {
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (request.buttons == MessageButtons::OkCancel) {
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
    } else if (request.buttons == MessageButtons::YesNo) {
        buttons = QMessageBox::Yes | QMessageBox::No;
    }
    QMessageBox box(toQtIcon(request.icon), request.caption, request.text, buttons,
                    static_cast<QWidget*>(request.owner));
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        default:
            return MessageAnswer::Ok;
    }
}

}  // namespace

void InstallWidgetMessageBoxes() {
    SetMessageBoxHandler(showWithWidgets);
}

}  // namespace lumiclip
