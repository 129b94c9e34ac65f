#pragma once

#include <QString>

#include <functional>

namespace lumiclip {

// Every message box of the program goes through ShowMessageBox, so that tests can record and answer
// them instead of blocking on a window. The engine never shows boxes; dialogs and the version-check command
// do.
enum class MessageIcon { None, Information, Warning, Question, Stop };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    QString caption;
    QString text;
    MessageIcon icon = MessageIcon::Warning;
    MessageButtons buttons = MessageButtons::Ok;
    // Opaque owner window (a QWidget*), or null for a box without owner.
    void* owner = nullptr;
};

using MessageBoxHandler = std::function<MessageAnswer(const MessageBoxRequest&)>;

// Shows the box through the installed handler (the widgets library installs the real one; without a
// handler the text goes to standard error and the answer is Ok).
MessageAnswer ShowMessageBox(const MessageBoxRequest& request);

// Installs a handler and returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The application's message box: its caption is the application's name.
MessageAnswer AppMessageBox(const QString& text, MessageIcon icon = MessageIcon::Warning,
                            MessageButtons buttons = MessageButtons::Ok, void* owner = nullptr);

}  // namespace lumiclip
