#include "mainapp/records/clone_settings.h"

CloneSettingsRecord CloneSettings;
