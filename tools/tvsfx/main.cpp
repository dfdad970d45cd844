// tvsfx: builds and inspects packages (stub + configuration block + ZIP archive).
#include "cli.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return tvsfx::RunTvsfx(args, std::cout, std::cerr);
}
