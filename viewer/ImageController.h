// The controller of one image window tab.
//
// It shows its `current` Image: the rendered picture in the marker view, the statistics fields
// and the histogram, and keeps the black- and white-point controls, the colour-filter pattern
// radios and the white-balance button in step with the image. It remembers the settings
// "automaticStretch", "awb" and "debayer".
//
// The operations are split by concern, each in its own file:
//   ImageController.cpp   the record, setCurrentImage, showImage, statistics, deferred tasks
//   StretchControls.cpp   control ranges, stretch points, automatic stretch
//   ColourControls.cpp    colour-filter pattern and white balance
//   ZoomControls.cpp      zoom, quarter turns, flips and corner inspection
//   ImageFileActions.cpp  loading another file into the window, JPEG export
//   StarProbe.cpp         the marker view's delegate calls: star selection and measurement,
//                         history graph and detail, rectangle, pixel readout
//   DriftControls.cpp     following the star across frames, the drift graph, guide lines and
//                         the two tool panels
//
// Outlets are weak and connected by the "Image" layout (ImageLayout); the optional ones (flip,
// rotate and inspect buttons, pattern group, probe fields and views) may stay unconnected.
// Everything runs on the main thread. Pattern, white-balance and zoom-button state changes
// take effect 0.1 s after the action, in the order of the actions.
#pragma once

#include "BaseController.h"
#include "ClickableViewDelegate.h"
#include "Image.h"
#include "StarHistory.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

class CenteringView;
class ClickableView;
class ImageView;
class PanelWindow;
class QAbstractButton;
class QLineEdit;
class QSlider;
class QWidget;
class Stepper;
class ToolPanel;

// What a file panel is asked to show.
struct FilePanelRequest {
    bool save = false;         // a save panel; otherwise an open panel
    QString prompt;            // text of the accepting button
    QString proposedName;      // file name proposed by a save panel
    QStringList allowedTypes;  // file extensions a save panel allows; empty: any
};

class ImageController : public QObject, public BaseController, public ClickableViewDelegate {
    Q_OBJECT

  public:
    // Shows a file panel over the window for `request` and later calls `completion` once, on
    // the main thread, with whether the user confirmed and the chosen path.
    using FilePanel =
        std::function<void(QWidget* window, const FilePanelRequest& request,
                           std::function<void(bool ok, const QString& path)> completion)>;

    explicit ImageController(QObject* parent = nullptr);
    ~ImageController() override;

    // Outlets.
    QPointer<PanelWindow> window;            // parent of the file panels and alerts
    QPointer<CenteringView> scrollView;      // holds the marker view; its size drives zoom to fit
    QPointer<ClickableView> clickableView;   // shows the rendered picture and the marks
    QPointer<QLineEdit> selectedPixelField;  // pixel readout (star probe)
    QPointer<QLineEdit> frameSizeField;      // "width x height"
    QPointer<QLineEdit> minField;            // smallest sample
    QPointer<QLineEdit> maxField;            // largest sample
    QPointer<QLineEdit> medianField;         // median
    QPointer<QLineEdit> q1Field;             // first quartile (optional)
    QPointer<QLineEdit> q3Field;             // third quartile (optional)
    QPointer<QLineEdit> averageField;        // mean
    QPointer<ImageView> histogramImageView;  // histogram picture
    QPointer<QLineEdit> blackPointField;     // stretch points: field, slider and stepper each
    QPointer<QLineEdit> whitePointField;
    QPointer<QSlider> whitePointSlider;
    QPointer<QSlider> blackPointSlider;
    QPointer<Stepper> whitePointStepper;
    QPointer<Stepper> blackPointStepper;
    QPointer<QAbstractButton> automaticStretchButton;  // two-state
    QPointer<QAbstractButton> zoomInButton;
    QPointer<QAbstractButton> zoomToFitButton;   // on while the zoom follows the window
    QPointer<QAbstractButton> actualSizeButton;  // on at one image pixel per point
    QPointer<QAbstractButton> zoomOutButton;
    // Two-state and optional: orientation and corner inspection.
    QPointer<QAbstractButton> inspectCornersButton;
    QPointer<QAbstractButton> flipHorizontallyButton;
    QPointer<QAbstractButton> flipVerticallyButton;
    QPointer<QAbstractButton> rotateCWButton;
    QPointer<QAbstractButton> rotateCCWButton;
    // The pattern group, used only when all six are connected: the radios of the codes 255, 0,
    // 16, 1 and 17, and the two-state white-balance button.
    QPointer<QAbstractButton> rawButton;
    QPointer<QAbstractButton> rggbButton;
    QPointer<QAbstractButton> grbgButton;
    QPointer<QAbstractButton> gbrgButton;
    QPointer<QAbstractButton> bggrButton;
    QPointer<QAbstractButton> awbButton;
    // Star probe: detail, measurement history graph and the measurement fields.
    QPointer<ImageView> detailImageView;
    QPointer<ImageView> psfImageView;
    QPointer<QLineEdit> fwhmField;
    QPointer<QLineEdit> hfdField;
    QPointer<QLineEdit> peakField;
    // Star tracking: the drift panel with its graph and rate fields.
    QPointer<ToolPanel> driftPanel;
    QPointer<ImageView> driftImageView;
    QPointer<QLineEdit> driftAXField;
    QPointer<QLineEdit> driftBXField;
    // The focus-mask panel and what it holds.
    QPointer<ToolPanel> bahtinovPanel;
    QPointer<ImageView> bahtinovImageView;
    QPointer<QLineEdit> focusErrorField;
    QPointer<QLineEdit> focusErrorUnitField;
    QPointer<QLineEdit> cfzField;

    StarHistory history;            // the selected star's measurements and positions (star probe)
    ImagePtr current;               // the image shown; set through setCurrentImage
    double zoom = 1.0;              // image pixels per view point
    int rotation = 0;               // degrees: 0, -90 (clockwise) or +90
    bool flipHorizontally = false;  // mirror the view left to right
    bool flipVertically = false;    // mirror the view top to bottom
    bool zoomToFit = true;          // the zoom follows the scroll view's size
    bool automaticStretch = true;   // stretch points come from the histogram
    std::optional<QPointF> selectedStar;  // selected star, image pixels
    bool enableMarkers = true;            // gates star and rectangle selection
    bool _awb = false;                    // white balance wanted
    int64_t _debayer = DebayerRaw;        // colour-filter pattern code (DebayerPattern)

    // Shows the file panels; tests replace it. The default shows a window-modal QFileDialog.
    FilePanel filePanel;

    // Sent by the layout once the outlets are connected: restores the settings and starts
    // following the scroll view's size.
    void awakeFromNib();
    // Makes `image` current (or nothing) and shows it. The star selection survives only a new
    // image of the same width and height.
    void setCurrentImage(const ImagePtr& image);
    // Presents `image` (which is `current`): controls, histogram, stretch, picture, statistics,
    // then follows the selected star onto it.
    void showImage(Image& image);

    // Stretch controls (StretchControls.cpp).
    void toggleAutomaticStretch();
    // A change of one stretch point by `sender`, one of `field`, `stepper` or `slider`; `point`
    // is the Image field it sets (&Image::_blackPoint or &Image::_whitePoint).
    void adjustStretchPoint(QObject* sender, QLineEdit* field, QSlider* slider, Stepper* stepper,
                            int64_t Image::*point);

    // Colour-filter pattern and white balance (ColourControls.cpp).
    void setDebayer(int64_t code);
    void applyDebayer();
    void awbChanged(bool buttonOn);
    void applyWhiteBalance();

    // Zoom and orientation (ZoomControls.cpp).
    void zoomIn();
    void zoomActualSize();
    void applyZoomToFit();
    void zoomOut();
    void toggleInspectCorners();
    void applyFlipHorizontally();
    void applyFlipVertically();
    void applyRotateCW();
    void applyRotateCCW();
    void setZoomButtonStates(bool fit, bool actualSize);

    // Loading and saving (ImageFileActions.cpp).
    void loadImageSheet();
    void loadImageFromPanel(bool ok, const QString& path);
    void saveImageSheet();
    void saveImageFromPanel(bool ok, const QString& path);

    // Star probe (StarProbe.cpp). Points and rectangles are the marker view's (view points).
    // Selects the star nearest to `viewPoint`, measures it and draws its detail; beside any
    // star the selection is cleared. The histories start afresh.
    void selectStar(QPointF viewPoint);
    // Forgets the selected star: no marks, "--" in the measurement fields, no detail.
    void clearStarSelection();
    // Measures the selected star into the fields, the histories and the history graph.
    void measureStar();
    // Draws the magnified detail of the selected star, or clears it without one.
    void drawStarDetail();
    // Marks the image rectangle under `viewRect` and shows its corner and size.
    void selectRectangle(QRectF viewRect);
    // Shows the value of the picture pixel drawn under `viewPoint` (the one under the centre
    // of the screen pixel there, turns and flips included) with its column and row counted
    // from the bottom, the point at which `valueAt` reads it.
    void showPixelValue(QPointF viewPoint);
    // The picture point (image pixels, y up) under a view point, for the zoom, turn and flips
    // the marker view shows.
    QPointF pictureFromView(QPointF viewPoint) const;
    QRectF pictureFromView(QRectF viewRect) const;

    // Star tracking, drift graph, guide lines and tool panels (DriftControls.cpp).
    // Finds the selected star again on the frame just shown and records its position.
    void trackSelectedStar();
    // Draws the drift graph of the recorded positions and the X and Y drift rates.
    void drawDrift();
    // Stores the selected star's position under the two keys, or removes them without one.
    void storeGuideLines(const QString& xKey, const QString& yKey);
    // Brings `panel` to the front; it hides while the application is inactive per "hidePanels".
    void showPanel(ToolPanel* panel);

    // ClickableViewDelegate (StarProbe.cpp).
    void selectedWithPoint(QPointF point) override;
    void draggedWithRect(QRectF rect, bool finished) override;
    void deselected() override;
    void movedWithPoint(QPointF point) override;
    void exited() override;

  public slots:
    void automaticStretchAction();
    void blackPointAction(QObject* sender);
    void whitePointAction(QObject* sender);
    void rggbAction();
    void grbgAction();
    void gbrgAction();
    void bggrAction();
    void rawAction();
    void awbAction();
    void repaint();
    void windowDidResize();
    void zoomInAction();
    void zoomActualSizeAction();
    void zoomToFitAction();
    void zoomOutAction();
    void inspectCornersAction();
    void flipHorizontallyAction();
    void flipVerticallyActiob();  // the action's name keeps its original spelling
    void rotateCWAction();
    void rotateCCWAction();
    void loadAction();
    void saveAction();
    void setGuideLines1();
    void setGuideLines2();
    void showDrift();
    void showBahtinov();

    // True while tasks wait for their 0.1 s to pass (runLater).
    bool hasLaterTasks() const { return !later_.empty(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Runs `task` on the main thread 0.1 s from now, after every task scheduled before it.
    void runLater(std::function<void()> task);
    void runNextLater();

    // Statistics fields and histogram of `image`, or "--" and no histogram.
    void showStatistics(Image& image);
    void clearStatistics();
    // The window forgets the picture: an empty marker view, "--" statistics.
    void clearPicture();
    // The marker view lets go of its picture just before a render, so that the render can
    // reuse the picture's memory instead of faulting in a fresh one.
    void releaseShownPicture();

    // Stretch helpers (StretchControls.cpp).
    void setStretchControlRanges(const Image& image);
    // Writes the stretch points into `image` (automatic or from the sliders) and shows them.
    void applyStretchPoints(Image& image);
    void showStretchPoint(int64_t value, QLineEdit* field, QSlider* slider, Stepper* stepper);
    // Drops the rendered picture, renders again and shows it; then the star detail.
    void rerender();

    // Pattern helpers (ColourControls.cpp).
    bool patternGroupConnected() const;
    void showPatternRadios();
    void schedulePattern(int64_t code);

    // Zoom helpers (ZoomControls.cpp).
    // Hands zoom, turn and flips to the marker view and lays the picture out again.
    void updateMarkerView();
    // The zoom that fits `pictureSize` into the scroll view with `margin` points to spare.
    double fitZoom(QSizeF pictureSize, double margin) const;
    // The image point to keep in the middle while zooming.
    QPointF zoomCentre() const;
    // Scrolls so that image point `centre` is in the middle of the visible area.
    void scrollToCentre(QPointF centre);
    void changeZoom(double newZoom, bool actualSizeState);

    // Shows the failure alert with `text` and `path`.
    void presentFailure(const QString& text, const QString& path);

    // The measurement the FWHM, HFD and peak fields show; none while they show "--".
    std::optional<PSFResult> shownMeasurement_;
    std::deque<std::function<void()>> later_;  // tasks waiting for their 0.1 s to pass
    QPointer<QObject> resizeSource_;           // the scroll view whose resizes refit
};
