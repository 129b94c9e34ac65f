#include "widgets/message_box.h"

#include <QCoreApplication>

#include <cstdio>

namespace lumiclip {

namespace {

MessageBoxHandler& handlerSlot() {
    static MessageBoxHandler handler;
    return handler;
}

}  // namespace

MessageAnswer ShowMessageBox(const MessageBoxRequest& request) {
    const MessageBoxHandler& handler = handlerSlot();
    if (handler) {
        return handler(request);
    }
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(request.caption), qUtf8Printable(request.text));
    return MessageAnswer::Ok;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(handlerSlot());
    handlerSlot() = std::move(handler);
    return previous;
}

MessageAnswer AppMessageBox(const QString& text, MessageIcon icon, MessageButtons buttons, void* owner) {
    MessageBoxRequest request;
    request.caption = QCoreApplication::applicationName();
    request.text = text;
    request.icon = icon;
    request.buttons = buttons;
    request.owner = owner;
    return ShowMessageBox(request);
}

}  // namespace lumiclip
