// ImageController: the star probe. The marker view reports clicks, drags, moves and exits here;
// the window asks for a measurement and the star detail after every re-render and follows the
// selected star onto every new frame of the same size.
//
// The probe itself (selection, measurement, histories, detail and drift graphs) is not wired
// in yet: these are the places it plugs into, and they do nothing for now.
#include "ImageController.h"

void ImageController::clearStarSelection() {}

void ImageController::measureStar() {}

void ImageController::drawStarDetail() {}

void ImageController::trackSelectedStar() {}

void ImageController::selectedWithPoint(QPointF) {}

void ImageController::draggedWithRect(QRectF, bool) {}

void ImageController::deselected() {}

void ImageController::movedWithPoint(QPointF) {}

void ImageController::exited() {}
