#pragma once

#include <QString>

namespace platform {

// The "CompanyName" string of the program's version information; set when the program is
// built (empty for this program).
QString companyName();

} // namespace platform
