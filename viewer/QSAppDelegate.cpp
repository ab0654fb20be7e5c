#include "QSAppDelegate.h"

#include "Dispatch.h"
#include "ImageDecoding.h"
#include "Settings.h"

QSAppDelegate::QSAppDelegate(QObject* parent) : QObject(parent) {}

void QSAppDelegate::applicationDidFinishLaunching() {
    userDefaults().setObject(tabbingKey(), 1);
    registerImageReaders();
    if (startUpdateCheck) runOnGlobalAfter(startUpdateCheck, 0);
}
