// quasel-tool probe: not built yet.
#include "Commands.h"

int runProbe(const QStringList&) {
    printErr("probe: not available in this build\n");
    return 2;
}
