#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <string>

// A fresh temporary folder made the working folder for one test, so that the settings file
// and the run log land there. The former working folder comes back afterwards.
class WorkFolder
{
public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    QString path() const { return m_dir.path(); }
    // A path inside the folder.
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QString m_former;
    QTemporaryDir m_dir;
};

QByteArray readBytes(const QString& path);
// Writes the file, creating its folders.
void writeBytes(const QString& path, const QByteArray& bytes);
QByteArray toBytes(const std::string& text);
// The run log's lines in the working folder, without their CR LF.
QStringList logLines();
// Every file below the folder, as paths relative to it, sorted.
QStringList filesBelow(const QString& folder);

// Makes the clock read the given times, one per reading; the last one repeats.
class FixedClock
{
public:
    explicit FixedClock(QList<QDateTime> readings);
    ~FixedClock();

private:
    QList<QDateTime> m_readings;
};

// Makes every event pump a pass, so that a click posted before a pump is handled there.
class EveryPumpPasses
{
public:
    EveryPumpPasses();
    ~EveryPumpPasses();
};

// Makes writes past the given file size fail, as a full disk would, until it goes out of
// scope. The program itself keeps the limit's signal from ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(unsigned long long bytes);
    ~FileSizeLimit();

private:
    unsigned long long m_former = 0;
};

// Records message boxes instead of showing them.
class MessageBoxRecorder
{
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();

    QStringList texts;
    QStringList captions;
};
