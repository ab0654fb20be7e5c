// Screens of several device pixel ratios for drawing tests on the offscreen platform.
#pragma once

#include "TestData.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QScreen>

// Gives this program's offscreen platform the screens listed in tests/data/`config`; a test
// file calls it for a flag of its own, so that it runs before the application starts. A
// platform named otherwise is left as it is. Returns true.
//   screens-of-five-pixel-ratios.json: ratios 1 (the primary screen), 1.25, 1.5, 1.75 and 2,
//     as the platform gives them (a high-density display's own pixels);
//   screens-scaled-by-qt.json: a plain screen and three that Qt scales by 1.25, 1.5 and 1.75
//     from their logical DPI, the road QT_SCALE_FACTOR and a desktop's scaling take.
inline bool useOffscreenScreens(const char* config) {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + testInputPath(config).toLocal8Bit());
    return true;
}

// The screen of `ratio` device pixels per point; null when there is none.
inline QScreen* screenOfRatio(double ratio) {
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->devicePixelRatio() == ratio) return screen;
    return nullptr;
}
