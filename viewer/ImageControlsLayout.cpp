#include "ImageControlsLayout.h"

#include "ImageController.h"
#include "ImageView.h"
#include "Stepper.h"
#include "ValueField.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

// A read-only statistics field; "--" until an image is shown.
QLineEdit* statisticsField(QWidget* parent, const char* name) {
    return valueField(name, QStringLiteral("--"), parent);
}

QGroupBox* statisticsGroup(ImageController* c) {
    auto* box = new QGroupBox(QStringLiteral("Statistics"));
    auto* form = new QFormLayout(box);
    form->setContentsMargins(8, 4, 8, 4);
    form->setVerticalSpacing(0);
    c->frameSizeField = statisticsField(box, "frameSizeField");
    c->minField = statisticsField(box, "minField");
    c->maxField = statisticsField(box, "maxField");
    c->averageField = statisticsField(box, "averageField");
    c->medianField = statisticsField(box, "medianField");
    c->q1Field = statisticsField(box, "q1Field");
    c->q3Field = statisticsField(box, "q3Field");
    form->addRow(QStringLiteral("Size"), c->frameSizeField);
    form->addRow(QStringLiteral("Min"), c->minField);
    form->addRow(QStringLiteral("Max"), c->maxField);
    form->addRow(QStringLiteral("Mean"), c->averageField);
    form->addRow(QStringLiteral("Median"), c->medianField);
    form->addRow(QStringLiteral("Q1"), c->q1Field);
    form->addRow(QStringLiteral("Q3"), c->q3Field);
    return box;
}

struct PointControls {
    QSlider* slider;
    Stepper* stepper;
    QLineEdit* field;
};

// One stretch point's row: label, slider, stepper and field, with the 8-bit range to start
// with; the controller switches ranges per image.
PointControls pointRow(QGridLayout* grid, int row, const QString& label, const char* name,
                       int value) {
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(QLatin1String(name) + "Slider");
    slider->setRange(0, 255);
    slider->setValue(value);
    auto* stepper = new Stepper();
    stepper->setObjectName(QLatin1String(name) + "Stepper");
    stepper->setMinimum(0);
    stepper->setMaximum(255);
    stepper->setIncrement(1);
    stepper->setValue(value);
    auto* field = new QLineEdit(QString::number(value));
    field->setObjectName(QLatin1String(name) + "Field");
    field->setFixedWidth(56);
    field->setAlignment(Qt::AlignRight);
    grid->addWidget(new QLabel(label), row, 0);
    grid->addWidget(slider, row, 1);
    grid->addWidget(stepper, row, 2);
    grid->addWidget(field, row, 3);
    for (QWidget* w : {static_cast<QWidget*>(slider), static_cast<QWidget*>(stepper),
                       static_cast<QWidget*>(field)})
        w->setEnabled(false);  // until an image is shown
    return {slider, stepper, field};
}

// The three controls of a point send `action` with themselves as the sender. A slider sends
// while it changes (the controller renders only once the knob is let go) and on release.
void sendPointAction(const PointControls& p, ImageController* c,
                     void (ImageController::*action)(QObject*)) {
    QObject::connect(p.field, &QLineEdit::editingFinished, c,
                     [c, action, f = p.field] { (c->*action)(f); });
    QObject::connect(p.stepper, &Stepper::activated, c,
                     [c, action, s = p.stepper] { (c->*action)(s); });
    QObject::connect(p.slider, &QSlider::valueChanged, c,
                     [c, action, s = p.slider] { (c->*action)(s); });
    QObject::connect(p.slider, &QSlider::sliderReleased, c,
                     [c, action, s = p.slider] { (c->*action)(s); });
}

QGroupBox* stretchGroup(ImageController* c) {
    auto* box = new QGroupBox(QStringLiteral("Stretch"));
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setHorizontalSpacing(4);
    const PointControls black = pointRow(grid, 0, QStringLiteral("Black"), "blackPoint", 0);
    const PointControls white = pointRow(grid, 1, QStringLiteral("White"), "whitePoint", 255);
    auto* automatic = new QCheckBox(QStringLiteral("Automatic stretch"));
    automatic->setObjectName("automaticStretchButton");
    automatic->setChecked(true);
    automatic->setEnabled(false);
    grid->addWidget(automatic, 2, 0, 1, 4);

    c->blackPointSlider = black.slider;
    c->blackPointStepper = black.stepper;
    c->blackPointField = black.field;
    c->whitePointSlider = white.slider;
    c->whitePointStepper = white.stepper;
    c->whitePointField = white.field;
    c->automaticStretchButton = automatic;
    sendPointAction(black, c, &ImageController::blackPointAction);
    sendPointAction(white, c, &ImageController::whitePointAction);
    QObject::connect(automatic, &QAbstractButton::clicked, c,
                     &ImageController::automaticStretchAction);
    return box;
}

QGroupBox* patternGroup(ImageController* c) {
    auto* box = new QGroupBox(QStringLiteral("Colour filter"));
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(8, 4, 8, 4);
    struct Radio {
        const char* title;
        const char* name;
        QPointer<QAbstractButton> ImageController::*outlet;
        void (ImageController::*action)();
    };
    const Radio radios[] = {
        {"Raw", "rawButton", &ImageController::rawButton, &ImageController::rawAction},
        {"RGGB", "rggbButton", &ImageController::rggbButton, &ImageController::rggbAction},
        {"GRBG", "grbgButton", &ImageController::grbgButton, &ImageController::grbgAction},
        {"GBRG", "gbrgButton", &ImageController::gbrgButton, &ImageController::gbrgAction},
        {"BGGR", "bggrButton", &ImageController::bggrButton, &ImageController::bggrAction},
    };
    int i = 0;
    for (const Radio& r : radios) {
        auto* radio = new QRadioButton(QLatin1String(r.title), box);
        radio->setObjectName(QLatin1String(r.name));
        radio->setEnabled(false);  // until a grey image is shown
        grid->addWidget(radio, i / 3, i % 3);
        c->*(r.outlet) = radio;
        QObject::connect(radio, &QAbstractButton::clicked, c, r.action);
        ++i;
    }
    c->rawButton->setChecked(true);
    auto* awb = new QCheckBox(QStringLiteral("White balance"), box);
    awb->setObjectName("awbButton");
    awb->setEnabled(false);
    grid->addWidget(awb, 2, 0, 1, 3);
    c->awbButton = awb;
    QObject::connect(awb, &QAbstractButton::clicked, c, &ImageController::awbAction);
    return box;
}

}  // namespace

void ImageControlsLayout::build(QWidget* panel, ImageController* c) {
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(6);
    column->addWidget(statisticsGroup(c));

    auto* histogram = new ImageView();
    histogram->setObjectName("histogramImageView");
    histogram->setMinimumWidth(128);
    histogram->setFixedHeight(100);  // the 256 x 128 picture at the panel's width
    c->histogramImageView = histogram;
    column->addWidget(histogram);

    column->addWidget(stretchGroup(c));
    column->addWidget(patternGroup(c));
    column->addStretch(1);
}
