#include "platform/Console.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The write end of the pipe from the signal handler to the event loop: a handler may do
// little more than write(), so it hands the signal's number on.
volatile std::sig_atomic_t g_signalPipe = -1;

void onSignal(int number)
{
    const int savedErrno = errno;
    const auto byte = static_cast<char>(number);
    if (g_signalPipe >= 0)
        (void)::write(g_signalPipe, &byte, 1);
    errno = savedErrno;
}

QString reasonFor(int number)
{
    switch (number) {
    case SIGINT:
        return QStringLiteral("stopped by Ctrl+C (SIGINT)");
    case SIGTERM:
        return QStringLiteral("stopped by SIGTERM");
    default:
        return QStringLiteral("stopped: the terminal was closed (SIGHUP)");
    }
}

} // namespace

void writeText(Stream stream, const QString& text)
{
    FILE* file = stream == Stream::Output ? stdout : stderr;
    std::fputs(text.toLocal8Bit().constData(), file);
    std::fflush(file);
}

bool isTerminal(Stream stream)
{
    return ::isatty(stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

StopRequests::StopRequests(QObject* parent) : QObject(parent)
{
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0)
        return;
    g_signalPipe = ends[1];
    const int reading = ends[0];
    auto* notifier = new QSocketNotifier(reading, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, reading] {
        char byte = 0;
        while (::read(reading, &byte, 1) == 1)
            emit requested(reasonFor(byte));
    });
    connect(this, &QObject::destroyed, [reading] { ::close(reading); });
    struct sigaction action = {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

StopRequests::~StopRequests()
{
    for (const int number : kSignals)
        std::signal(number, SIG_DFL);
    if (g_signalPipe >= 0)
        ::close(g_signalPipe);
    g_signalPipe = -1;
}

void StopRequests::finished() {}
