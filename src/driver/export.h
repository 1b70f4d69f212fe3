// How the driver's calls reach the export table. Each driver call is
// exported under its plain name and with the prefix TARVO_, both reaching
// the same code. On Windows the module-definition file names the aliases;
// elsewhere the TARVO_ name is an alias symbol of the plain one, which must
// be defined in the same source file.
#pragma once

#include "tarvo.h"

#if defined(_WIN32)
#define TARVO_EXPORT_ALIAS(ret, plain, params)
#else
#define TARVO_EXPORT_ALIAS(ret, plain, params) \
  extern "C" TARVO_API ret TARVO_CALL TARVO_##plain params __attribute__((alias(#plain)));
#endif
