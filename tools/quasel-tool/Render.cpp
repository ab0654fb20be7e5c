// quasel-tool render: not built yet.
#include "Commands.h"

int runRender(const QStringList&) {
    printErr("render: not available in this build\n");
    return 2;
}
