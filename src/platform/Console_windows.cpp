#include "platform/Console.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace {

// The console's control handler runs on a thread of its own: it hands the request to the
// main thread through the event loop, and for a closing console waits until the program has
// finished with it (the system ends the program when the handler returns, or after about five
// seconds).
std::atomic<StopRequests*> g_requests{nullptr};
HANDLE g_finished = nullptr;
constexpr DWORD kCloseWaitMs = 4500;

BOOL WINAPI onControl(DWORD event)
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
    StopRequests* requests = g_requests.load();
    if (!requests)
        return FALSE;
    QMetaObject::invokeMethod(
        requests, [requests, reason] { emit requests->requested(reason); }, Qt::QueuedConnection);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::WaitForSingleObject(g_finished, kCloseWaitMs);
    return TRUE;
}

HANDLE handleOf(Stream stream)
{
    return ::GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

} // namespace

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
}

bool isTerminal(Stream stream)
{
    DWORD mode = 0;
    const HANDLE handle = handleOf(stream);
    return handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

StopRequests::StopRequests(QObject* parent) : QObject(parent)
{
    g_requests = this;
    g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(&onControl, TRUE);
}

StopRequests::~StopRequests()
{
    ::SetConsoleCtrlHandler(&onControl, FALSE);
    finished();
    g_requests = nullptr;
}

void StopRequests::finished()
{
    if (g_finished)
        ::SetEvent(g_finished);
}
