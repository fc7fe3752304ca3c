#include "TestSupport.h"

#include "SampleCollection.h"

#include "app/MessageBox.h"
#include "platform/Clock.h"
#include "platform/EventPump.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#ifdef Q_OS_WIN
#include <windows.h>
// after windows.h
#include <psapi.h>
#undef MessageBox // the program's own, not Windows' macro
#else
#include <sys/resource.h>
#include <sys/stat.h>
#endif

WorkFolder::WorkFolder() : m_former(QDir::currentPath())
{
    if (!m_dir.isValid() || !QDir::setCurrent(m_dir.path()))
        qFatal("no temporary working folder: %s", qPrintable(m_dir.errorString()));
}

WorkFolder::~WorkFolder()
{
    QDir::setCurrent(m_former);
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray toBytes(const std::string& text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

QByteArray servedBytes(const QString& fileName)
{
    return toBytes(
        sample::localFileBody(fileName.left(5).toStdString(), fileName.mid(5).toStdString()));
}

QStringList logLines()
{
    const QByteArray bytes = readBytes(QStringLiteral("KX-GET-CardDataUpdates.txt"));
    if (!bytes.isEmpty() && !bytes.endsWith("\r\n"))
        return {QStringLiteral("<log does not end in CR LF>")};
    QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator entries(folder, QDir::Files | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    const QDir base(folder);
    while (entries.hasNext())
        files << base.relativeFilePath(entries.next());
    files.sort();
    return files;
}

QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& file : filesBelow(folder)) // a pipe is listed, never read
        files.insert(file, QFileInfo(folder + "/" + file).isFile() ? readBytes(folder + "/" + file)
                                                                   : "<not a file>");
    return files;
}

FixedClock::FixedClock(QList<QDateTime> readings)
    : Change(
          [readings]() mutable {
              Clock::setSource([readings]() mutable {
                  return readings.size() > 1 ? readings.takeFirst() : readings.first();
              });
          },
          [] { Clock::setSource({}); })
{}

EveryPumpPasses::EveryPumpPasses()
    : Change([] { setPumpInterval(std::chrono::milliseconds(0)); },
             [] { setPumpInterval(kDefaultPumpInterval); })
{}

// What differs between systems in the tests' surroundings.
#ifdef Q_OS_WIN

qint64 peakMemoryBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return qint64(counters.PeakWorkingSetSize);
}

bool runsOnWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

FileSizeLimit::FileSizeLimit(unsigned long long) : Change([] {}, [] {}) {}

bool FileSizeLimit::available()
{
    return false;
}

bool makePipe(const QString&)
{
    return false;
}

HeldOpen::HeldOpen(const QString& path)
    : m_handle(CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr))
{}

HeldOpen::~HeldOpen()
{
    if (m_handle != INVALID_HANDLE_VALUE)
        CloseHandle(m_handle);
}

bool HeldOpen::available()
{
    return true;
}

#else

qint64 peakMemoryBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

bool runsOnWine()
{
    return false;
}

namespace {
void setFileSizeLimit(rlim_t bytes)
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}
} // namespace

FileSizeLimit::FileSizeLimit(unsigned long long bytes)
    : Change([bytes] { setFileSizeLimit(bytes); }, [] { setFileSizeLimit(RLIM_INFINITY); })
{}

bool FileSizeLimit::available()
{
    return true;
}

bool makePipe(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0666) == 0;
}

HeldOpen::HeldOpen(const QString&) {}
HeldOpen::~HeldOpen() = default;

bool HeldOpen::available()
{
    return false;
}

#endif

#ifdef Q_OS_WIN
// Written through the registry, as the card application writes them.
CardApplication::CardApplication(const QByteArray& userReg)
    : Change(
          [&] {
              QSettings registry(R"(HKEY_CURRENT_USER\Software\Kelvo\zumi\DLM)",
                                 QSettings::NativeFormat);
              static const QRegularExpression value(R"re(^"(\w+)"="(.*)"$)re");
              for (const QByteArray& line : userReg.split('\n')) {
                  const QRegularExpressionMatch match = value.match(QString::fromUtf8(line));
                  if (match.hasMatch())
                      registry.setValue(match.captured(1), match.captured(2));
              }
          },
          [] {
              QSettings(R"(HKEY_CURRENT_USER\Software)", QSettings::NativeFormat).remove("Kelvo");
          })
{}
#else
CardApplication::CardApplication(const QByteArray& userReg)
    : Change(
          [&] {
              writeBytes(QDir::current().filePath("wine/user.reg"), userReg);
              qputenv("WINEPREFIX", QDir::current().filePath("wine").toLocal8Bit());
          },
          [former = qgetenv("WINEPREFIX")] { qputenv("WINEPREFIX", former); })
{}
#endif

MessageBoxRecorder::MessageBoxRecorder()
    : Change(
          [this] {
              MessageBox::setRecorder(
                  [this](const QString& text, const QString&) { texts << text; });
          },
          [] { MessageBox::setRecorder({}); })
{}
