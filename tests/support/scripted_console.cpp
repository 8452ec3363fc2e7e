// (header-only helpers; this file keeps the support library non-empty)
#include "tests/support/scripted_console.h"
