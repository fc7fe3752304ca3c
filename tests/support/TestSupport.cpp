#include "TestSupport.h"

#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/MessageBox.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

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
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
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

QStringList logLines()
{
    const QByteArray bytes = readBytes(QStringLiteral("KX-GET-CardDataUpdates.txt"));
    if (bytes.isEmpty())
        return {};
    if (!bytes.endsWith("\r\n"))
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

FixedClock::FixedClock(QList<QDateTime> readings) : m_readings(std::move(readings))
{
    Clock::setSource(
        [this] { return m_readings.size() > 1 ? m_readings.takeFirst() : m_readings.first(); });
}

FixedClock::~FixedClock()
{
    Clock::setSource({});
}

MessageBoxRecorder::MessageBoxRecorder()
{
    MessageBox::setRecorder([this](const QString& text, const QString& caption) {
        texts << text;
        captions << caption;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    MessageBox::setRecorder({});
}

EveryPumpPasses::EveryPumpPasses()
{
    setPumpInterval(std::chrono::milliseconds(0));
}

EveryPumpPasses::~EveryPumpPasses()
{
    setPumpInterval(kDefaultPumpInterval);
}

FileSizeLimit::FileSizeLimit(unsigned long long bytes)
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    m_former = limit.rlim_cur;
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        qFatal("cannot limit the file size");
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = m_former;
    setrlimit(RLIMIT_FSIZE, &limit);
}
