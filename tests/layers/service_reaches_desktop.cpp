// Built with the service program's include folders: it never sees the desktop program's logic.
#include "desktop/desktop_view.h"
