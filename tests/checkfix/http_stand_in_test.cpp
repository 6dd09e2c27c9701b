// This program's HTTP agent, until the program's own is in the core.
#include "support/http_stand_in.h"
