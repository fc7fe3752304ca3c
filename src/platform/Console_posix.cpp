#include "platform/Console.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe from the signal handler to the event loop: a handler may do little more than
// write(), so it hands the signal's number on. Its ends live as long as the process.
volatile std::sig_atomic_t g_signalPipe = -1;
int g_signalReadEnd = -1;
bool g_preparedForConsole = false;

void onSignal(int number)
{
    const int savedErrno = errno;
    const auto byte = static_cast<char>(number);
    if (g_signalPipe >= 0)
        (void)::write(g_signalPipe, &byte, 1);
    errno = savedErrno;
}

// Catches the stop signals from now on, also those a parent left blocked or pending.
void catchStopSignals()
{
    if (g_signalReadEnd >= 0)
        return;
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0)
        return;
    g_signalReadEnd = ends[0];
    g_signalPipe = ends[1];
    struct sigaction action = {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t stops;
    sigemptyset(&stops);
    for (const int number : kSignals) {
        ::sigaction(number, &action, nullptr);
        sigaddset(&stops, number);
    }
    ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);
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

void prepareConsole()
{
    // Descriptors 0 to 2 are the standard streams: one closed at start would be taken by the
    // first file the program opens, and a message meant for a stream would land in it.
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (::fcntl(stream, F_GETFD) == -1 && errno == EBADF &&
            ::open("/dev/null", O_RDWR) != stream)
            break;
    }
    // A reader that went away (`| head`) fails the write, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    g_preparedForConsole = true;
    catchStopSignals();
}

void writeText(Stream stream, const QString& text)
{
    FILE* file = stream == Stream::Output ? stdout : stderr;
    std::fputs(text.toLocal8Bit().constData(), file);
    std::fflush(file);
    std::clearerr(file); // what could not be written is dropped
}

bool isTerminal(Stream stream)
{
    return ::isatty(stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

StopRequests::StopRequests(QObject* parent) : QObject(parent)
{
    catchStopSignals();
    if (g_signalReadEnd < 0)
        return;
    const int reading = g_signalReadEnd;
    auto* notifier = new QSocketNotifier(reading, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, reading] {
        char byte = 0;
        while (::read(reading, &byte, 1) == 1)
            emit requested(reasonFor(byte));
    });
    // A request made before the notifier existed waits in the pipe: the notifier sees it at
    // the first turn of the event loop.
}

StopRequests::~StopRequests()
{
    if (g_preparedForConsole || g_signalReadEnd < 0)
        return; // caught for as long as the program runs; later requests are dropped
    for (const int number : kSignals)
        std::signal(number, SIG_DFL);
    ::close(g_signalPipe);
    ::close(g_signalReadEnd);
    g_signalPipe = -1;
    g_signalReadEnd = -1;
}

void StopRequests::finished() {}
