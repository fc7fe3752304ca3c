#include "platform/Console.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <tuple>

namespace {

// The console's control handler runs on a thread of its own: it hands the request to the
// main thread through the event loop, and for a closing console waits until the program has
// finished with it (the system ends the program when the handler returns, or after about five
// seconds).
std::atomic<StopRequests*> g_requests{nullptr};
// A request that came before StopRequests existed: the event plus one, 0 for none.
std::atomic<DWORD> g_pendingEvent{0};
bool g_preparedForConsole = false;
HANDLE g_finished = nullptr;
constexpr DWORD kCloseWaitMs = 4500;

QString reasonFor(DWORD event)
{
    QString reason;
    switch (event) {
    case CTRL_C_EVENT:
        reason = QStringLiteral("stopped by Ctrl+C");
        break;
    case CTRL_BREAK_EVENT:
        reason = QStringLiteral("stopped by Ctrl+Break");
        break;
    case CTRL_CLOSE_EVENT:
        reason = QStringLiteral("stopped: the console window was closed");
        break;
    default:
        reason = QStringLiteral("stopped: Windows is logging off or shutting down");
        break;
    }
    return reason;
}

void request(StopRequests* requests, DWORD event)
{
    QMetaObject::invokeMethod(
        requests, [requests, reason = reasonFor(event)] { emit requests->requested(reason); },
        Qt::QueuedConnection);
}

BOOL WINAPI onControl(DWORD event)
{
    StopRequests* requests = g_requests.load();
    if (!requests) {
        // Before the run exists it is asked to stop when it does; after it, the run's own
        // status stands.
        DWORD none = 0;
        g_pendingEvent.compare_exchange_strong(none, event + 1);
        return g_preparedForConsole ? TRUE : FALSE;
    }
    request(requests, event);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::WaitForSingleObject(g_finished, kCloseWaitMs);
    return TRUE;
}

HANDLE handleOf(Stream stream)
{
    return ::GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

} // namespace

void prepareConsole()
{
    // A standard handle Windows gave none of stays none: GetStdHandle answers null and writes
    // are dropped; the C streams are opened on NUL so that no file takes their place.
    for (const auto& [id, file, mode] :
         {std::tuple{STD_INPUT_HANDLE, stdin, "r"}, std::tuple{STD_OUTPUT_HANDLE, stdout, "w"},
          std::tuple{STD_ERROR_HANDLE, stderr, "w"}}) {
        const HANDLE handle = ::GetStdHandle(id);
        if ((!handle || handle == INVALID_HANDLE_VALUE) && _fileno(file) < 0)
            (void)std::freopen("NUL", mode, file);
    }
    g_preparedForConsole = true;
    g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(&onControl, TRUE);
}

void writeText(Stream stream, const QString& text)
{
    const HANDLE handle = handleOf(stream);
    DWORD mode = 0;
    if (handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        ::WriteConsoleW(handle, reinterpret_cast<const wchar_t*>(text.utf16()), DWORD(text.size()),
                        &written, nullptr);
        return;
    }
    FILE* file = stream == Stream::Output ? stdout : stderr;
    std::fputs(text.toLocal8Bit().constData(), file);
    std::fflush(file);
    std::clearerr(file); // what could not be written (a closed pipe, a full disk) is dropped
}

bool isTerminal(Stream stream)
{
    DWORD mode = 0;
    const HANDLE handle = handleOf(stream);
    return handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

StopRequests::StopRequests(QObject* parent) : QObject(parent)
{
    if (!g_finished)
        g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::ResetEvent(g_finished);
    g_requests = this;
    if (!g_preparedForConsole)
        ::SetConsoleCtrlHandler(&onControl, TRUE);
    if (const DWORD pending = g_pendingEvent.exchange(0); pending != 0)
        request(this, pending - 1);
}

StopRequests::~StopRequests()
{
    if (!g_preparedForConsole)
        ::SetConsoleCtrlHandler(&onControl, FALSE);
    finished();
    g_requests = nullptr;
}

void StopRequests::finished()
{
    if (g_finished)
        ::SetEvent(g_finished);
}
