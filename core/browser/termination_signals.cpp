#include "core/browser/termination_signals.h"

#include "core/browser/browser.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace lumiclip {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes the signal's number to this pair; the event loop reads it.
int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_count = 0;

void onTerminationSignal(int sig) {
    g_count = g_count + 1;
    if (g_count > 1) {
        Browser::EmergencyKill();
        ::_exit(128 + sig);
    }
    const char byte = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0) {
        g_signalPipe[0] = g_signalPipe[1] = -1;
        return;  // without the pair the signals keep their default actions
    }
    g_count = 0;
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::onSignal);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : kSignals) {
        ::sigaction(sig, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals() {
    if (m_notifier == nullptr) {
        return;
    }
    for (const int sig : kSignals) {
        ::signal(sig, SIG_DFL);
    }
    delete m_notifier;
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

void TerminationSignals::onSignal() {
    char byte = 0;
    while (::read(g_signalPipe[0], &byte, 1) == 1) {
        if (m_received == 0) {
            m_received = static_cast<unsigned char>(byte);
        }
    }
    // exit(), not quit(): a quit asks the windows first, and the main window refuses to close while a
    // capture runs. Leaving the loops ends the capture's wait the way a quit does.
    QCoreApplication::exit(0);
}

}  // namespace lumiclip
