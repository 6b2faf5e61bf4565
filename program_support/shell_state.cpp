#include "program_support/shell_state.h"

ShellStateRecord ShellState;
