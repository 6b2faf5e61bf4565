#include "mainapp/clone/clone_settings.h"

CloneSettingsRecord CloneSettings;
