#include "tools/cli/progress_line.h"

#include <unistd.h>

bool StderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) != 0;
}
