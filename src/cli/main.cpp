// qorvel-cli: the storage account from the command line (qorvel-cli --help).
#include <string>
#include <vector>

#include "cli/context.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return qorvel::cli::run(args);
}
