#include "platform/RegistryPrivate.h"

#include <windows.h>

namespace {

// A string value (REG_SZ) of the card application's key; empty for anything else.
QString stringValue(const wchar_t* name)
{
    wchar_t text[CardApplicationValues::kMaxLength + 1] = {};
    DWORD size = sizeof(text);
    if (::RegGetValueW(HKEY_CURRENT_USER, LR"(Software\Kelvo\zumi\DLM)", name, RRF_RT_REG_SZ,
                       nullptr, text, &size) != ERROR_SUCCESS)
        return {};
    return QString::fromWCharArray(text);
}

} // namespace

CardApplicationValues registeredValues()
{
    return {stringValue(L"key"), stringValue(L"username")};
}
