// Screens of several device pixel ratios for drawing tests on the offscreen platform.
#pragma once

#include "TestData.h"

#include <QGuiApplication>
#include <QScreen>

// This program's offscreen platform has screens of device pixel ratio 1 (the primary one),
// 1.25, 1.5, 1.75 and 2; set before the application starts (a test file includes this header
// and reads the flag). A platform named otherwise is left as it is.
inline const bool kScreensOfSeveralRatios = [] {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen")
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" +
                    testInputPath("screens-of-five-pixel-ratios.json").toLocal8Bit());
    return true;
}();

// The screen of `ratio` device pixels per point; null when there is none.
inline QScreen* screenOfRatio(double ratio) {
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->devicePixelRatio() == ratio) return screen;
    return nullptr;
}
