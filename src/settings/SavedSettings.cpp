#include "settings/SavedSettings.h"

#include "platform/Files.h"
#include "platform/Text.h"

// A save that fails keeps the former file. A value the file's encoding cannot hold is refused
// rather than saved with "?" in its place.
Status saveSettings(const QString& userName, const QString& key, const QString& dataPath)
{
    const std::pair<const QString&, const char*> values[] = {
        {userName, "user name"}, {key, "key code"}, {dataPath, "data folder path"}};
    for (const auto& [value, name] : values) {
        if (!fitsTextFile(value))
            return Status::failure(
                QStringLiteral("the %1 has characters that text files on this computer cannot "
                               "hold (the language for non-Unicode programs)")
                    .arg(QLatin1String(name)));
    }
    const QStringList lines = {
        QStringLiteral("# KX Card Update Saved Info"),
        QStringLiteral("# UserName"),
        userName,
        QStringLiteral("# Key Code"),
        key,
        QStringLiteral("# Path to Data Folder"),
        dataPath,
    };
    return writeWholeFile(QString::fromUtf16(kSettingsFileName), textFileBytes(lines));
}

QString savedText(const Status& saved)
{
    return saved ? QStringLiteral("You Info was Saved !")
                 : QStringLiteral("Could not save your info: ") + saved.error();
}

ShownValues offerCardApplicationValues(const ShownValues& shown, const ShownValues& initial,
                                       const CardApplicationValues& values)
{
    ShownValues offered = shown;
    const struct
    {
        QString& value;
        const QString& initial;
        const QString& registered;
        QString name;
    } boxes[] = {
        {offered.key, initial.key, values.key, QStringLiteral("key code")},
        {offered.userName, initial.userName, values.userName, QStringLiteral("user name")}};
    QStringList filled;
    QStringList differing;
    for (const auto& [value, initialValue, registered, name] : boxes) {
        if (registered.isEmpty())
            continue;
        if (value == initialValue) {
            value = registered;
            filled << name;
        } else if (trimSpaces(value) != trimSpaces(registered)) { // as a run takes both
            differing << name;
        }
    }
    QStringList said;
    if (!filled.isEmpty())
        said << QStringLiteral("The %1 %2 filled in from the card application (%3): check %4 "
                               "before you tick the box.")
                    .arg(filled.join(QStringLiteral(" and ")),
                         filled.size() == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                         QString::fromUtf16(kCardApplicationKey),
                         filled.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    if (!differing.isEmpty())
        said << QStringLiteral("The card application holds another %1 than your saved info (it "
                               "may have been registered again): the saved %2 kept.")
                    .arg(differing.join(QStringLiteral(" and ")), differing.size() == 1
                                                                      ? QStringLiteral("one is")
                                                                      : QStringLiteral("ones are"));
    offered.note = said.join(u' ');
    return offered;
}

Status loadSettings(FormState& state)
{
    const QString name = QString::fromUtf16(kSettingsFileName);
    TextFile file;
    if (Status opened = file.open(name, TextFile::Mode::Input); !opened)
        return Status::failure(QStringLiteral("could not read %1: %2").arg(name, opened.error()));
    // Lines 3, 5 and 7 hold the values; the label lines between them are read and skipped.
    QString* const values[] = {&state.sUserName, &state.sKey, &state.sDataPath};
    for (int lineNumber = 1; lineNumber <= 7; ++lineNumber) {
        Result<QString> line = file.readLine();
        if (!line)
            return Status::failure(
                QStringLiteral("%1 holds %2 lines, not 7").arg(name).arg(lineNumber - 1));
        if (lineNumber % 2 == 1 && lineNumber > 1)
            *values[lineNumber / 2 - 1] = std::move(line).value();
    }
    (void)file.close();
    return {};
}
