/*
** solvan_bus: logging, checked allocation and the library's process-wide settings.
*/
#include "solvan_bus.h"
