// Built with the settings' include folders only: the mail layer beside them is out of reach.
#include "mail/smtp.h"
