#include "cli/commands.h"

#include <unistd.h>

namespace qv::cli {

int check_choice_status(const ProcessChoice& choice) {
    std::string error;
    bool usage = false;
    if (check_choice(choice, error, usage)) return kExitOk;
    print_error(error);
    return usage ? kExitUsage : kExitFailure;
}

bool refuse_terminal_output() {
    if (isatty(STDOUT_FILENO) != 1) return false;
    print_error("standard output is a terminal; redirect it to a file or a pipe");
    return true;
}

}  // namespace qv::cli
