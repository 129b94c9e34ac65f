#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace lumiclip {

// Opening a link reports its result as a code in the shell's manner: above 32 is success, 32 or less
// names the failure (see OpenErrorText).
inline constexpr int kOpenSucceeded = 42;
inline constexpr int kOpenFileNotFound = 2;    // a handler was found but could not be started
inline constexpr int kOpenNoAssociation = 31;  // nothing on this desktop opens web pages

// What opening a link needs from the desktop; tests replace it so that no real browser starts.
struct LinkOpenServices {
    // Asks the desktop to open the address (xdg-open behind QDesktopServices).
    std::function<bool(const QUrl&)> openUrl;
    // The desktop file id registered for text/html ("firefox.desktop"), or empty.
    std::function<QString()> defaultHtmlHandler;
    // Starts a program detached from us.
    std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
    // Audible feedback before an error box.
    std::function<void()> beep;
};

// The real services.
LinkOpenServices DefaultLinkOpenServices();
// The services in use (the real ones unless replaced).
const LinkOpenServices& CurrentLinkOpenServices();
// Installs services and returns the previous ones.
LinkOpenServices SetLinkOpenServices(LinkOpenServices services);

// The Exec value of the [Desktop Entry] group of a desktop file's text, with the general string escapes
// (\s \n \t \r \\) resolved; empty if there is none.
QString DesktopEntryExec(const QString& desktopFileText);

// Cuts a handler command at its placeholder: at the first "%1" in double quotes, else the first %1, else
// the first of the desktop field codes %u %U %f %F (at its opening quote when quoted). Without a
// placeholder the whole command is kept.
QString CutAtPlaceholder(const QString& command);

// The fallback command as text: the cut command, one space and the address.
QString FallbackCommand(const QString& command, const QString& address);

// The data folders to search for desktop files: $XDG_DATA_HOME (or ~/.local/share), then
// $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
QStringList XdgDataDirs();

// The path of a desktop file id inside the data folders' "applications" folders, where a dash in the id
// may also stand for a sub-folder ("kde-foo.desktop" in applications/kde/foo.desktop); empty if absent.
QString FindDesktopFile(const QString& desktopId, const QStringList& dataDirs);

// Opens the address: the desktop first, then the command of the desktop entry registered for text/html.
// Returns kOpenSucceeded, or the failure code: kOpenNoAssociation when nothing handles web pages,
// kOpenFileNotFound when the registered handler could not be started.
int OpenLinkAddress(const QString& address);

// The text that explains a failure code (the codes of the shell's open operation).
QString OpenErrorText(int code);

}  // namespace lumiclip
