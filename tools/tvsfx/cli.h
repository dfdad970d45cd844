// The tvsfx command line.
#ifndef TVSFX_CLI_H
#define TVSFX_CLI_H

#include <ostream>
#include <string>
#include <vector>

namespace tvsfx {

enum { EXIT_OK = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

// Runs tvsfx with the arguments that follow the program name.
int RunTvsfx(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The text of `tvsfx --help`.
std::string HelpText();

}  // namespace tvsfx

#endif
