#include "widgets/link_open.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <array>
#include <utility>

namespace lumiclip {

namespace {

// Every wait on the outside has a deadline; xdg-mime answers at once on a working desktop.
constexpr int kMimeQueryTimeoutMs = 3000;

QString QueryDefaultHtmlHandler() {
    QProcess process;
    process.start(QStringLiteral("xdg-mime"),
                  {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!process.waitForStarted(kMimeQueryTimeoutMs)) {
        return {};
    }
    if (!process.waitForFinished(kMimeQueryTimeoutMs)) {
        process.kill();
        process.waitForFinished(kMimeQueryTimeoutMs);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return {};
    }
    // The answer may list several ids separated by semicolons; the first is the default.
    const QString answer = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return answer.section(QLatin1Char(';'), 0, 0).trimmed();
}

LinkOpenServices& ServicesSlot() {
    static LinkOpenServices services = DefaultLinkOpenServices();
    return services;
}

QString UnescapeDesktopString(const QString& value) {
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
            case 's':
                result.append(QLatin1Char(' '));
                break;
            case 'n':
                result.append(QLatin1Char('\n'));
                break;
            case 't':
                result.append(QLatin1Char('\t'));
                break;
            case 'r':
                result.append(QLatin1Char('\r'));
                break;
            case '\\':
                result.append(QLatin1Char('\\'));
                break;
            default:
                // Not a string escape: leave it for the command's own quoting rules.
                result.append(c);
                result.append(next);
                break;
        }
    }
    return result;
}

}  // namespace

LinkOpenServices DefaultLinkOpenServices() {
    LinkOpenServices services;
    services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    services.defaultHtmlHandler = &QueryDefaultHtmlHandler;
    services.startDetached = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    services.beep = [] { QApplication::beep(); };
    return services;
}

const LinkOpenServices& CurrentLinkOpenServices() {
    return ServicesSlot();
}

LinkOpenServices SetLinkOpenServices(LinkOpenServices services) {
    LinkOpenServices previous = std::move(ServicesSlot());
    ServicesSlot() = std::move(services);
    return previous;
}

QString DesktopEntryExec(const QString& desktopFileText) {
    bool inEntryGroup = false;
    const QStringList lines = desktopFileText.split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntryGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntryGroup || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != QLatin1String("Exec")) {
            continue;
        }
        return UnescapeDesktopString(line.mid(equals + 1).trimmed());
    }
    return {};
}

QString CutAtPlaceholder(const QString& command) {
    qsizetype cut = command.indexOf(QLatin1String("\"%1\""));
    if (cut < 0) {
        cut = command.indexOf(QLatin1String("%1"));
    }
    if (cut < 0) {
        static const std::array<QLatin1String, 4> fieldCodes = {QLatin1String("%u"), QLatin1String("%U"),
                                                                QLatin1String("%f"), QLatin1String("%F")};
        for (const QLatin1String code : fieldCodes) {
            const qsizetype at = command.indexOf(code);
            if (at >= 0 && (cut < 0 || at < cut)) {
                cut = at;
            }
        }
        // A quoted field code is cut at its opening quote, as the quoted "%1" is.
        if (cut > 0 && command.at(cut - 1) == QLatin1Char('"') && cut + 2 < command.size() &&
            command.at(cut + 2) == QLatin1Char('"')) {
            --cut;
        }
    }
    return cut < 0 ? command : command.left(cut);
}

QString FallbackCommand(const QString& command, const QString& address) {
    return CutAtPlaceholder(command) + QLatin1Char(' ') + address;
}

QStringList XdgDataDirs() {
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty()) {
        home = QDir::homePath() + QLatin1String("/.local/share");
    }
    dirs.append(home);
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty()) {
        system = QStringLiteral("/usr/local/share:/usr/share");
    }
    for (const QString& dir : system.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        dirs.append(dir);
    }
    return dirs;
}

QString FindDesktopFile(const QString& desktopId, const QStringList& dataDirs) {
    if (desktopId.isEmpty() || desktopId.contains(QLatin1Char('/')) ||
        desktopId.startsWith(QLatin1Char('.'))) {
        return {};
    }
    // The id itself, then the forms where the leading dashes stand for sub-folders.
    QStringList relativePaths = {desktopId};
    QString candidate = desktopId;
    for (qsizetype dash = candidate.indexOf(QLatin1Char('-')); dash >= 0;
         dash = candidate.indexOf(QLatin1Char('-'), dash + 1)) {
        candidate[dash] = QLatin1Char('/');
        relativePaths.append(candidate);
    }
    for (const QString& dir : dataDirs) {
        for (const QString& relative : relativePaths) {
            QString path = dir + QLatin1String("/applications/") + relative;
            if (QFileInfo(path).isFile()) {
                return path;
            }
        }
    }
    return {};
}

int OpenLinkAddress(const QString& address) {
    const LinkOpenServices& services = CurrentLinkOpenServices();
    const QUrl url(address, QUrl::TolerantMode);
    if (url.isValid() && !url.isEmpty() && services.openUrl && services.openUrl(url)) {
        return kOpenSucceeded;
    }
    // The desktop could not open it: nothing is associated, unless the registered handler helps.
    const int desktopResult = kOpenNoAssociation;
    const QString desktopId = services.defaultHtmlHandler ? services.defaultHtmlHandler() : QString();
    const QString path = FindDesktopFile(desktopId, XdgDataDirs());
    if (path.isEmpty()) {
        return desktopResult;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return desktopResult;
    }
    const QString exec = DesktopEntryExec(QString::fromUtf8(file.readAll()));
    if (exec.isEmpty()) {
        return desktopResult;
    }
    // The command is built as text (program, its options, one space, the address), but the address is
    // handed over as one argument of its own, so that no blank or quote in it can add options.
    QStringList arguments = QProcess::splitCommand(CutAtPlaceholder(exec));
    if (arguments.isEmpty()) {
        return kOpenFileNotFound;
    }
    const QString program = arguments.takeFirst();
    arguments.append(address);
    if (!services.startDetached || !services.startDetached(program, arguments)) {
        return kOpenFileNotFound;
    }
    return kOpenSucceeded;
}

QString OpenErrorText(int code) {
    switch (code) {
        case 0:
            return QStringLiteral("The operating system is out\nof memory or resources.");
        case 2:
            return QStringLiteral("The specified file was not found.");
        case 3:
            return QStringLiteral("The specified path was not found.");
        case 5:
            return QStringLiteral("The operating system denied\naccess to the specified file.");
        case 8:
            return QStringLiteral("There was not enough memory to complete the operation.");
        case 11:
            return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        case 26:
            return QStringLiteral("A sharing violation occurred. ");
        case 27:
            return QStringLiteral("The filename association is\nincomplete or invalid.");
        case 28:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
        case 29:
            return QStringLiteral("The DDE transaction failed.");
        case 30:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
                "processed.");
        case 31:
            return QStringLiteral("There is no application associated\nwith the given filename extension.");
        case 32:
            return QStringLiteral("The specified dynamic-link library was not found.");
        default:
            return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    }
}

}  // namespace lumiclip
