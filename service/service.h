// The service program: command line, installation under systemd, run loop and log.
#pragma once
