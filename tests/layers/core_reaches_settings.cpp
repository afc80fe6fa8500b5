// Built with the engine's include folders only: reaching up to the settings must not compile.
#include "settings/config_files.h"
