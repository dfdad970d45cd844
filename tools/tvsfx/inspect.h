// `tvsfx inspect`: prints a package's header, configuration strings and
// members, and checks what the stub checks.
#ifndef TVSFX_INSPECT_H
#define TVSFX_INSPECT_H

#include <ostream>
#include <string>

namespace tvsfx {

// Returns 0 when every check passes, 1 when one fails or the file is not a
// package.  Failed checks are listed in `out` ("FAILED: ..."); a file that
// cannot be read or is no package is reported on `err`.
int InspectPackage(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace tvsfx

#endif
