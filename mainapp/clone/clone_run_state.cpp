#include "mainapp/clone/clone_run_state.h"

CloneRunStateRecord CloneRunState;
