#pragma once

#include <QDateTime>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <string>

// A fresh temporary folder made the working folder for one test, so that the settings file
// and the run log land there. The former working folder comes back afterwards.
class WorkFolder
{
public:
    WorkFolder();
    ~WorkFolder();

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
// What the sample server serves for a card file, by the file's name.
QByteArray servedBytes(const QString& fileName);
// The run log's lines in the working folder, without their CR LF.
QStringList logLines();
// The most memory the process has held so far.
qint64 peakMemoryBytes();
// Every file below the folder, as paths relative to it, sorted.
QStringList filesBelow(const QString& folder);
// Every file below the folder with its bytes.
QMap<QString, QByteArray> snapshot(const QString& folder);

// A change to the program's surroundings that is undone when it goes out of scope.
class Change
{
public:
    Change(const std::function<void()>& make, std::function<void()> undo) : m_undo(std::move(undo))
    {
        make();
    }
    ~Change() { m_undo(); }
    Q_DISABLE_COPY(Change)

private:
    std::function<void()> m_undo;
};

// The clock reads the given times, one per reading; the last one repeats.
class FixedClock : public Change
{
public:
    explicit FixedClock(QList<QDateTime> readings);
};

// Every event pump is a pass, so that a change made at a pump takes effect there.
class EveryPumpPasses : public Change
{
public:
    EveryPumpPasses();
};

// Writes past the given file size fail, as on a full disk. Only where the system has such
// limits (POSIX); elsewhere it changes nothing.
class FileSizeLimit : public Change
{
public:
    explicit FileSizeLimit(unsigned long long bytes);
    static bool available();
};

// Whether the tests run on Wine rather than on Windows itself.
bool runsOnWine();

// A pipe at the path; false where the system makes none in a folder (Windows).
bool makePipe(const QString& path);

// The file held open the way another program holds it: readable and writable by others, but
// not to be deleted or replaced. Only on Windows; elsewhere it holds nothing.
class HeldOpen
{
public:
    explicit HeldOpen(const QString& path);
    ~HeldOpen();
    Q_DISABLE_COPY(HeldOpen)
    static bool available();

private:
    void* m_handle = nullptr;
};

// The card application's values where the program looks for them: on Windows the string values
// of HKCU\Software\Kelvo\zumi\DLM that the lines `"name"="value"` of userReg give; elsewhere
// userReg is the whole user.reg of a Wine prefix of the test's own. Removed again afterwards.
class CardApplication : public Change
{
public:
    explicit CardApplication(const QByteArray& userReg);
};

// Message boxes are recorded instead of shown.
class MessageBoxRecorder : public Change
{
public:
    MessageBoxRecorder();
    QStringList texts;
};
