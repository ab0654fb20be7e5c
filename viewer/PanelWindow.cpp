#include "PanelWindow.h"

#include "BottomPanel.h"
#include "CenterPanel.h"
#include "LeftPanel.h"
#include "RightPanel.h"
#include "Settings.h"
#include "TabGroupWindow.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QToolBar>

#include <algorithm>
#include <cmath>

namespace {

template <typename T>
bool isA(const QWidget* w) {
    return dynamic_cast<const T*>(w) != nullptr;
}

// Qt geometry of a bottom-up frame in a parent of height `height`.
QRect toQt(const QRectF& f, int height) {
    const int x = int(std::lround(f.x()));
    const int w = std::max(0, int(std::lround(f.width())));
    const int h = std::max(0, int(std::lround(f.height())));
    const int y = height - int(std::lround(f.y())) - h;
    return QRect(x, y, w, h);
}

// Bottom-up frame of a Qt geometry in a parent of height `height`.
QRectF fromQt(const QRect& g, int height) {
    return QRectF(g.x(), height - g.y() - g.height(), g.width(), g.height());
}

QVariantList arrayOf(const QRect& r) {
    return {r.x(), r.y(), std::abs(r.width()), std::abs(r.height())};
}

}  // namespace

PanelWindow::PanelWindow(QWidget* parent) : QMainWindow(parent) {
    content_ = new QWidget(this);
    content_->setObjectName("contentView");
    setCentralWidget(content_);
    content_->installEventFilter(this);
    laidOutSize_ = content_->size();
}

PanelWindow::~PanelWindow() = default;

void PanelWindow::setToolbar(QToolBar* toolbar) {
    toolbar_ = toolbar;
    if (toolbar) addToolBar(Qt::TopToolBarArea, toolbar);
}

void PanelWindow::setTitle(const QString& title) {
    title_ = title;
    if (!tabGroup_) setWindowTitle(titleVisible_ ? title_ : QString());
    emit titlesChanged(this);
}

void PanelWindow::setTabTitle(const QString& title) {
    tabTitle_ = title;
    emit titlesChanged(this);
}

void PanelWindow::setTitleVisible(bool visible) {
    titleVisible_ = visible;
    if (!tabGroup_) setWindowTitle(titleVisible_ ? title_ : QString());
    emit titlesChanged(this);
}

TabGroupWindow* PanelWindow::tabGroup() const {
    return tabGroup_;
}

QWidget* PanelWindow::frameWidget() const {
    if (tabGroup_) return tabGroup_;
    return const_cast<PanelWindow*>(this);
}

QRect PanelWindow::frame() const {
    return frameWidget()->geometry();
}

void PanelWindow::setFrame(const QRect& frame) {
    applyFrameConstraints(frame.size());
    frameWidget()->setGeometry(frame);
}

void PanelWindow::setResizable(bool resizable) {
    resizable_ = resizable;
    applyFrameConstraints(frame().size());
}

void PanelWindow::applyFrameConstraints(const QSize& fixedSize) {
    QWidget* w = frameWidget();
    if (!w->isWindow()) return;
    if (resizable_) {
        w->setMinimumSize(minimumFrameSize());
        w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        w->setMinimumSize(fixedSize);
        w->setMaximumSize(fixedSize);
    }
}

QSize PanelWindow::minimumFrameSize() const {
    QWidget* w = frameWidget();
    const QSize hint = w->minimumSizeHint();
    return QSize(minSize.width(), std::max(minSize.height(), hint.height()));
}

void PanelWindow::addTabbedWindow(PanelWindow* window) {
    if (!window || window == this) return;
    TabGroupWindow* group = tabGroup_;
    if (!group) group = new TabGroupWindow(this);
    group->insertWindow(window, this);
}

void PanelWindow::joinTabGroup(TabGroupWindow* group) {
    // The frame constraints belong to the group from now on; the page itself stays free.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    tabGroup_ = group;
}

QList<QWidget*> PanelWindow::subviews() const {
    QList<QWidget*> views;
    if (!content_) return views;
    for (QObject* child : content_->children())
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) views.append(w);
    return views;
}

void PanelWindow::syncContentSize() {
    if (!content_) return;
    const QSize now = content_->size();
    if (now == laidOutSize_) return;
    const double dW = now.width() - laidOutSize_.width();
    const double dH = now.height() - laidOutSize_.height();
    for (QWidget* v : subviews()) {
        QRectF f = fromQt(v->geometry(), laidOutSize_.height());
        if (isA<CenterPanel>(v)) {
            f.setWidth(f.width() + dW);
            f.setHeight(f.height() + dH);
        } else if (isA<LeftPanel>(v)) {
            f.setHeight(f.height() + dH);
        } else if (isA<RightPanel>(v)) {
            f.moveLeft(f.x() + dW);
            f.setHeight(f.height() + dH);
        } else if (isA<BottomPanel>(v)) {
            f.setWidth(f.width() + dW);
        }
        v->setGeometry(toQt(f, now.height()));
    }
    laidOutSize_ = now;
}

QRectF PanelWindow::frameOf(QWidget* subview) {
    syncContentSize();
    return fromQt(subview->geometry(), laidOutSize_.height());
}

void PanelWindow::setFrameOf(QWidget* subview, const QRectF& frame) {
    syncContentSize();
    subview->setGeometry(toQt(frame, laidOutSize_.height()));
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && event->type() == QEvent::Resize && !arranging_) {
        syncContentSize();
        arrangeSubviews();
    }
    return QMainWindow::eventFilter(watched, event);
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // Inside a tab group the group reports its own resizes to every tab.
    if (!tabGroup_) windowDidResize();
}

void PanelWindow::windowDidResize() {
    if (ownFrames_ && !miniView) normalFrame = frame();
    notifyDelegate("windowDidResize");
}

void PanelWindow::notifyDelegate(const char* method) {
    if (!delegate_) return;
    const QByteArray signature = QByteArray(method) + "()";
    if (delegate_->metaObject()->indexOfMethod(signature.constData()) < 0) return;
    QMetaObject::invokeMethod(delegate_, method, Qt::DirectConnection);
}

void PanelWindow::awakeFromNib() {
    restoreWindowState();
}

std::optional<QRect> PanelWindow::rectFromArray(const QVariantList& array) {
    if (array.size() < 4) return std::nullopt;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        // The settings file hands numbers back as text; both forms are numbers here.
        const QVariant& item = array[i];
        const int type = item.typeId();
        if (type == QMetaType::Bool || type == QMetaType::QVariantList ||
            type == QMetaType::QStringList)
            return std::nullopt;
        bool ok = false;
        v[i] = item.toDouble(&ok);
        if (!ok || !std::isfinite(v[i]) || std::abs(v[i]) > 1e6) return std::nullopt;
    }
    return QRect(int(std::lround(v[0])), int(std::lround(v[1])), int(std::lround(std::abs(v[2]))),
                 int(std::lround(std::abs(v[3]))));
}

QRect PanelWindow::frameOnScreen(const QRect& rect) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    // Enough of the window must show to grab and move it.
    const int needW = std::min(64, std::max(1, rect.width()));
    const int needH = std::min(32, std::max(1, rect.height()));
    for (QScreen* s : screens) {
        const QRect seen = s->availableGeometry().intersected(rect);
        if (seen.width() >= needW && seen.height() >= needH) return rect;
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return rect;
    const QRect area = primary->availableGeometry();
    const QSize size = rect.size().boundedTo(area.size());
    const int x = std::clamp(rect.x(), area.left(), area.left() + area.width() - size.width());
    const int y = std::clamp(rect.y(), area.top(), area.top() + area.height() - size.height());
    return QRect(QPoint(x, y), size);
}

void PanelWindow::restoreWindowState() {
    UserDefaults& defaults = userDefaults();
    if (miniViewButton) {
        ownFrames_ = true;
        const QRect current = frame();
        if (auto r = rectFromArray(defaults.defaultsArray("normalFrame", arrayOf(current)))) {
            normalFrame = frameOnScreen(*r);
            setFrame(*normalFrame);
        }
        if (auto r = rectFromArray(defaults.defaultsArray("miniFrame", {})))
            miniFrame = frameOnScreen(*r);
    }
    leftPanels = defaults.defaultsBool("leftPanels", true);
    rightPanels = defaults.defaultsBool("rightPanels", true);
    bottomPanels = defaults.defaultsBool("bottomPanels", true);

    if (leftPanelsButton) leftPanelsButton->setChecked(leftPanels);
    if (rightPanelsButton) rightPanelsButton->setChecked(rightPanels);
    if (bottomPanelsButton) bottomPanelsButton->setChecked(bottomPanels);
    if (miniViewButton) miniViewButton->setChecked(miniView);
    for (QAbstractButton* b :
         {leftPanelsButton.data(), rightPanelsButton.data(), bottomPanelsButton.data()})
        if (b) b->setEnabled(!miniView);
    layoutPanels();
}

void PanelWindow::panelSizes(double& L, double& R, double& B) const {
    L = R = B = 0;
    for (QWidget* v : subviews()) {
        if (isA<LeftPanel>(v))
            L = v->width();
        else if (isA<RightPanel>(v))
            R = v->width();
        else if (isA<BottomPanel>(v))
            B = v->height();
    }
}

void PanelWindow::layoutPanels() {
    if (!content_) return;
    syncContentSize();
    arranging_ = true;

    for (QWidget* v : subviews()) {
        if (isA<LeftPanel>(v))
            v->setVisible(leftPanels || miniView);
        else if (isA<RightPanel>(v))
            v->setVisible(rightPanels || miniView);
        else if (isA<BottomPanel>(v))
            v->setVisible(bottomPanels && !miniView);
        else if (isA<CenterPanel>(v))
            v->setVisible(!miniView);
    }
    double L, R, B;
    panelSizes(L, R, B);

    if (miniView) {
        // Only on the way in: once the window is fixed to its mini size, its frame is the
        // mini frame and would replace the frame to come back to.
        if (isResizable()) normalFrame = frame();
        setTitleVisible(true);
        if (toolbar_) toolbar_->setVisible(false);
        setResizable(false);
        // The window shrinks toward its top-left corner, where its title bar stays.
        if (!miniFrame) miniFrame = frame();
        miniFrame->setSize(QSize(int(L + 9 + R + 7), minimumFrameSize().height()));
        setFrame(*miniFrame);
    } else if (miniViewButton) {
        if (!isResizable()) {
            // Coming out of the mini view; read the frame before the size limits return.
            // Lifting them can grow the window to its minimum size, which reports as a
            // normal-mode resize: the frame to come back to is kept aside meanwhile.
            const QRect mini = frame();
            const std::optional<QRect> back = normalFrame;
            setResizable(true);
            miniFrame = mini;
            normalFrame = back;
        }
        if (normalFrame) setFrame(*normalFrame);
    }

    arranging_ = false;
    arrangeSubviews();

    if (!miniView) {
        if (toolbar_) toolbar_->setVisible(true);
        setTitleVisible(userDefaults().defaultsBool("titleVisible", false));
        // The smallest frame grows by the toolbar again.
        if (isResizable()) applyFrameConstraints(frame().size());
    }
}

void PanelWindow::arrangeSubviews() {
    if (!content_) return;
    syncContentSize();
    double L, R, B;
    panelSizes(L, R, B);
    const QList<QWidget*> views = subviews();

    if (miniView) {
        for (QWidget* v : views) {
            QRectF f = frameOf(v);
            if (isA<RightPanel>(v)) {
                f.moveLeft(L + 9);
                setFrameOf(v, f);
            } else if (f.x() < 0) {
                v->setVisible(false);
            }
        }
        return;
    }

    const double W = laidOutSize_.width();
    const double H = laidOutSize_.height();
    const double l = leftPanels ? L + 9 : 7;
    const double r = rightPanels ? R + 9 : 7;
    const double b = bottomPanels ? B + 9 : 7;
    const double width = std::max(0.0, W - r - l);
    for (QWidget* v : views) {
        QRectF f = frameOf(v);
        if (isA<CenterPanel>(v)) {
            if (bottomPanelsButton) {
                setFrameOf(v, QRectF(l, b + 18, width, std::max(0.0, H - b - 26)));
            } else {
                f.setWidth(width);
                setFrameOf(v, f);
            }
        } else if (isA<RightPanel>(v)) {
            if (rightPanels) {
                f.moveLeft(W - r + 2);
                setFrameOf(v, f);
            }
        } else if (isA<BottomPanel>(v)) {
            if (bottomPanels) {
                f.moveLeft(l);
                f.setWidth(width);
                setFrameOf(v, f);
            }
        } else if (!isA<LeftPanel>(v)) {
            v->setVisible(true);
        }
    }
}

void PanelWindow::togglePanel(PanelKind kind) {
    bool* flag = nullptr;
    QAbstractButton* button = nullptr;
    const char* key = nullptr;
    switch (kind) {
        case PanelKind::Left:
            flag = &leftPanels, button = leftPanelsButton, key = "leftPanels";
            break;
        case PanelKind::Right:
            flag = &rightPanels, button = rightPanelsButton, key = "rightPanels";
            break;
        case PanelKind::Bottom:
            flag = &bottomPanels, button = bottomPanelsButton, key = "bottomPanels";
            break;
    }
    *flag = !*flag;
    if (button) button->setChecked(*flag);
    userDefaults().setObject(key, *flag);
    layoutPanels();
}

void PanelWindow::toggleMiniView() {
    miniView = !miniView;
    if (miniViewButton) miniViewButton->setChecked(miniView);
    for (QAbstractButton* b :
         {leftPanelsButton.data(), rightPanelsButton.data(), bottomPanelsButton.data()})
        if (b) b->setEnabled(!miniView);
    userDefaults().setObject("miniView", miniView);
    layoutPanels();
}

void PanelWindow::leftPanelsAction() {
    togglePanel(PanelKind::Left);
}
void PanelWindow::rightPanelsAction() {
    togglePanel(PanelKind::Right);
}
void PanelWindow::bottomPanelsAction() {
    togglePanel(PanelKind::Bottom);
}
void PanelWindow::miniViewAction() {
    toggleMiniView();
}

void PanelWindow::saveFrames() {
    if (!miniViewButton) return;
    if (miniView)
        miniFrame = frame();
    else
        normalFrame = frame();
    if (normalFrame) userDefaults().setObject("normalFrame", arrayOf(*normalFrame));
    if (miniFrame) userDefaults().setObject("miniFrame", arrayOf(*miniFrame));
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    closed_ = true;
    // The window keeps its own frames even when another object (the document) is its
    // delegate: the frames of a document's main window are stored like any other.
    if (ownFrames_) saveFrames();
    notifyDelegate("windowWillClose");
    QMainWindow::closeEvent(event);
    event->accept();
    emit closed(this);
}
