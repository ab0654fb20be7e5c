#include "QSAppDelegate.h"

#include "ImageDecoding.h"
#include "Settings.h"
#include "UpdateChecker.h"

#include <QCoreApplication>

QSAppDelegate::QSAppDelegate(QObject* parent) : QObject(parent) {}

UpdateChecker* QSAppDelegate::updateChecker() const {
    return updateChecker_;
}

void QSAppDelegate::applicationDidFinishLaunching() {
    userDefaults().setObject(tabbingKey(), 1);
    registerImageReaders();
    if (!updateChecker_) updateChecker_ = new UpdateChecker(QCoreApplication::instance());
    updateChecker_->checkForUpdateInBackground();
}
