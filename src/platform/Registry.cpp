#include "platform/Registry.h"

#include "platform/FilesPrivate.h"

#include <algorithm>

CardApplicationValues readCardApplicationValues()
{
    CardApplicationValues values = registeredValues();
    for (QString* value : {&values.key, &values.userName}) {
        if (value->size() > CardApplicationValues::kMaxLength ||
            std::any_of(value->begin(), value->end(), [](QChar c) { return c.unicode() < 0x20; }))
            value->clear();
    }
    return values;
}
