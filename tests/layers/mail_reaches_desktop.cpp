// Built with the mail layer's include folders only: the desktop logic above is out of reach.
#include "desktop/desktop_view.h"
