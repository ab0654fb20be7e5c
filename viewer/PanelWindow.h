// A document window whose content view holds a centre area and optional panels on the left,
// the right and the bottom.
//
// Toggle buttons show and hide the three kinds of panel, and a mini-view button shrinks the
// window to its side panels alone. The window lays its panels out itself and keeps its panel
// choices and its two frames (normal and mini) in the user defaults.
//
// Geometry: subview frames are given in the content view's coordinates with the origin at the
// bottom-left corner and y upward, so a panel that "keeps its y" stays at its distance from the
// bottom edge. When the content view changes size the subviews follow fixed rules (centre:
// width and height grow; left: height grows; right: moves with the right edge, height grows;
// bottom: width grows, stays at the bottom; anything else stays at its bottom-left place), and
// the panel layout of the current mode is applied again.
//
// Window frames are top-level geometry in screen coordinates (Qt's, y downward). Inside a tab
// group (TabGroupWindow) every tab shares the group's frame, so frame operations act on the group.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QVariantList>

#include <optional>

class QAbstractButton;
class QToolBar;
class TabGroupWindow;

class PanelWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit PanelWindow(QWidget* parent = nullptr);
    ~PanelWindow() override;

    // Outlets, connected by the layout builders; each is optional.
    QPointer<QAbstractButton> leftPanelsButton;   // toggles the left panels
    QPointer<QAbstractButton> rightPanelsButton;  // toggles the right panels
    QPointer<QAbstractButton>
        bottomPanelsButton;                    // toggles the bottom panels; also moves the centre
    QPointer<QAbstractButton> miniViewButton;  // toggles the mini view; enables frame handling

    bool leftPanels = false;           // left panels shown (read from the defaults at wake)
    bool rightPanels = false;          // right panels shown
    bool bottomPanels = false;         // bottom panels shown
    bool miniView = false;             // mini view active; every window opens in normal mode
    std::optional<QRect> normalFrame;  // window frame in normal mode
    std::optional<QRect> miniFrame;    // window frame in mini view
    QSize minSize{400, 300};           // smallest frame; more when the content needs more

    // The area that holds the panels; subviews are placed on it without a layout.
    QWidget* contentView() const { return content_; }
    // The window's own toolbar, or nullptr when it has none.
    QToolBar* toolbar() const { return toolbar_; }
    void setToolbar(QToolBar* toolbar);

    QString title() const { return title_; }
    void setTitle(const QString& title);
    QString tabTitle() const { return tabTitle_; }
    void setTabTitle(const QString& title);
    bool isTitleVisible() const { return titleVisible_; }
    void setTitleVisible(bool visible);
    int tabbingMode() const { return tabbingMode_; }
    void setTabbingMode(int mode) { tabbingMode_ = mode; }  // 0 automatic, as stored only

    // The window frame: the tab group's geometry when tabbed, else this window's.
    QRect frame() const;
    // Moves and sizes the window (the whole tab group when tabbed).
    void setFrame(const QRect& frame);
    bool isResizable() const { return resizable_; }
    void setResizable(bool resizable);
    // The smallest frame: `minSize`, or taller when the content view's minimum height and what
    // surrounds it (toolbar, tabs, menu bar) need more.
    QSize minimumFrameSize() const;

    // The tab group this window is a tab of, or nullptr.
    TabGroupWindow* tabGroup() const;
    // Adds `window` as a tab right after this one, making a tab group when there is none.
    void addTabbedWindow(PanelWindow* window);

    // The object told when the window closes (`windowWillClose()`) or resizes
    // (`windowDidResize()`), when it has such an invokable method.
    QObject* delegate() const { return delegate_; }
    void setDelegate(QObject* delegate) { delegate_ = delegate; }
    // True when the window keeps its own frames: a mini-view button was connected at wake.
    bool handlesOwnFrames() const { return ownFrames_; }

    // Frame of a subview of the content view, origin bottom-left, y upward.
    QRectF frameOf(QWidget* subview);
    void setFrameOf(QWidget* subview, const QRectF& frame);

    // Called by the layout builder once the outlets are connected.
    void awakeFromNib();
    void restoreWindowState();
    void layoutPanels();
    void saveFrames();
    // Keeps `normalFrame` in step with the frame outside the mini view.
    void windowDidResize();

    // The frame of `rect` moved onto the available screen area when no screen shows enough of it.
    static QRect frameOnScreen(const QRect& rect);
    // The rectangle of an array [x, y, width, height] of numbers, or nothing when the array has
    // fewer than four elements or one of the first four is not a number.
    static std::optional<QRect> rectFromArray(const QVariantList& array);

  public slots:
    void leftPanelsAction();
    void rightPanelsAction();
    void bottomPanelsAction();
    void miniViewAction();

  signals:
    // The title, tab title or title visibility changed.
    void titlesChanged(PanelWindow* window);
    // The window has closed; its tab group removes it.
    void closed(PanelWindow* window);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class TabGroupWindow;
    enum class PanelKind { Left, Right, Bottom };

    void togglePanel(PanelKind kind);
    void toggleMiniView();
    QList<QWidget*> subviews() const;
    // Widths L, R and height B of the panels (the last panel of a kind counts).
    void panelSizes(double& L, double& R, double& B) const;
    // The subview placement of the current mode (the second pass of the layout).
    void arrangeSubviews();
    // Moves the subviews by their resizing rules when the content view's size has changed.
    void syncContentSize();
    QWidget* frameWidget() const;
    // Applies the resizable state to whichever widget carries the frame.
    void applyFrameConstraints(const QSize& fixedSize);
    void joinTabGroup(TabGroupWindow* group);
    void notifyDelegate(const char* method);

    QWidget* content_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QSize laidOutSize_;  // content size the subview frames were last placed for
    QString title_;
    QString tabTitle_;
    bool titleVisible_ = true;
    int tabbingMode_ = 0;
    bool resizable_ = true;
    bool ownFrames_ = false;
    bool closed_ = false;
    bool arranging_ = false;
    QPointer<TabGroupWindow> tabGroup_;
    QPointer<QObject> delegate_;
};
