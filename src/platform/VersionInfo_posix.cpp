#include "platform/VersionInfo.h"

#ifndef OSTROVE_COMPANY_NAME
#define OSTROVE_COMPANY_NAME ""
#endif

namespace platform {

QString companyName()
{
    return QStringLiteral(OSTROVE_COMPANY_NAME);
}

} // namespace platform
