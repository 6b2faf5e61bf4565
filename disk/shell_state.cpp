#include "disk/shell_state.h"

ShellStateRecord ShellState;
