#include "mainapp/records/clone_run_state.h"

CloneRunStateRecord CloneRunState;
