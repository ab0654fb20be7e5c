#include "Commands.h"

#include <QGuiApplication>

#include <cstdio>

static void usage() {
    printErr(
        "usage: quasel-tool info FILE [--json] [--pattern CODE]\n"
        "       quasel-tool render FILE OUT [--pattern raw|rggb|gbrg|grbg|bggr] [--awb]\n"
        "                          [--black N --white N] [--no-highlight] [--extension N] [--json]\n"
        "       quasel-tool probe FILE X Y [--json]\n"
        "       quasel-tool stars FILE [--max N] [--radius R] [--json]\n"
        "       quasel-tool drift REF NEW [--donuts [--clip E]] [--json]\n"
        "--extension N renders FITS HDU N (0 the primary, 1 the first extension); without it,\n"
        "render, probe, stars and drift take the first HDU that has a picture.\n");
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: its teardown loads the whole font configuration only to drop it again.
    QGuiApplication& app = *new QGuiApplication(argc, argv);
    QCoreApplication::setOrganizationName("Quasel");
    QCoreApplication::setApplicationName("Quasel");
    registerImageReaders();

    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        usage();
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == "info") return runInfo(args);
    if (command == "render") return runRender(args);
    if (command == "probe") return runProbe(args);
    if (command == "stars") return runStars(args);
    if (command == "drift") return runDrift(args);
    usage();
    return 2;
}
