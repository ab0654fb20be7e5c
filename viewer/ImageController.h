// The controller of an image window tab.
//
// For now it shows the image's rendered picture at actual size in the marker view inside the
// window's centring scroll view; an image without a picture (a table-only unit, an
// undecodable file) shows an empty view. The stretch, colour, zoom and star-probe controls of
// the image window attach here.
#pragma once

#include "BaseController.h"
#include "Image.h"

#include <QObject>
#include <QPointer>

class CenteringView;
class ClickableView;
class PanelWindow;

class ImageController : public QObject, public BaseController {
    Q_OBJECT

  public:
    explicit ImageController(QObject* parent = nullptr);
    ~ImageController() override;

    // Outlets, connected by the "Image" layout.
    QPointer<PanelWindow> window;           // the window the controller serves
    QPointer<CenteringView> scrollView;     // holds the marker view
    QPointer<ClickableView> clickableView;  // shows the rendered picture

    ImagePtr current;  // the image shown

    // Sent by the layout once the outlets are connected.
    void awakeFromNib();
    // Shows `image` (or nothing).
    void setCurrentImage(const ImagePtr& image);

  private:
    void showImage(Image& image);
};
