#include "platform/Registry.h"

#include "platform/RegistryPrivate.h"

namespace {

// Whether every character of the value can be seen and typed: no control characters, no
// format characters (a zero-width space, a change of writing direction), no character that
// could not be decoded (U+FFFD, half a surrogate pair), and more than spaces. A value that
// looks like another is worse in a box than none.
bool isShowable(const QString& value)
{
    if (value.trimmed().isEmpty())
        return false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c.isHighSurrogate() && i + 1 < value.size() && value[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate() || c == QChar::ReplacementCharacter ||
            c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return false;
    }
    return true;
}

} // namespace

CardApplicationValues readCardApplicationValues()
{
    CardApplicationValues values = registeredValues();
    for (QString* value : {&values.key, &values.userName}) {
        if (value->size() > CardApplicationValues::kMaxLength || !isShowable(*value))
            value->clear();
    }
    return values;
}
