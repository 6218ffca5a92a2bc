#pragma once
// Drag and drop among the main window's six lists. The window's lists do not
// use Qt's own item dragging (their movement is static); this object watches
// the lists' mouse events instead: a press and a move past the start
// distance begin a drag of the pressed item, moves follow it with the drag
// image, the drop highlight and the cursor, and the release performs the
// drop. What may be dragged and dropped where is decided by the drag rules
// (app/drag_rules); what a drop does is the window's.
#include <QObject>
#include <QPoint>
#include <functional>
#include <memory>

#include "app/drag_rules.h"

class QLabel;
class QListWidget;
class QWidget;

namespace rk {

class CListDrag : public QObject {
    Q_OBJECT
public:
    struct Host {
        // The list widget of a drag list number (kDragVideos .. kDragLogos).
        std::function<QListWidget*(int list)> listWidget;
        // The card's facts for a drag of `item` of `list`.
        std::function<DragFacts(int list, int item)> facts;
        // False while an operation runs or no card is ready.
        std::function<bool()> mayStart;
        // Performs an allowed drop.
        std::function<void(DropAction action, int sourceItem, int targetItem)> drop;
    };

    // The item data role that marks the drop target (painted by the lists'
    // delegate).
    static constexpr int kDropHighlightRole = 0x0100 + 40;  // Qt::UserRole + 40

    explicit CListDrag(Host host, QObject* parent = nullptr);
    ~CListDrag() override;

    // Watches the six lists' mouse events and gives them the delegate that
    // paints the drop highlight.
    void Attach();

    // The steps of a drag, as the mouse events drive them (screen points).
    // Begin answers whether the item may be dragged.
    bool Begin(int list, int item, const QPoint& global);
    void MoveTo(const QPoint& global);
    void Release(const QPoint& global);
    // Ends a drag without a drop.
    void Cancel();

    // The list and item under a screen point: -1, -1 when no shown list is
    // there; the item is -1 over a list's empty area.
    void HitTest(const QPoint& global, int& list, int& item) const;

    bool Dragging() const { return dragging_; }
    int SourceList() const { return sourceList_; }
    int SourceItem() const { return sourceItem_; }
    int TargetList() const { return targetList_; }
    int TargetItem() const { return targetItem_; }
    DragCursor Cursor() const { return cursor_; }
    // The floating picture of the dragged item (null when not dragging).
    QWidget* DragImage() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int ListOfViewport(QObject* viewport) const;
    void SetHighlight(int list, int item);
    void ShowCursor(DragCursor cursor);
    void EndVisuals();
    void Reset();

    Host host_;
    bool dragging_ = false;
    int sourceList_ = -1, sourceItem_ = -1;
    int targetList_ = -1, targetItem_ = -1;
    int highlightList_ = -1, highlightItem_ = -1;
    DragCursor cursor_ = DragCursor::kNoEntry;
    bool cursorSet_ = false;
    DragFacts facts_;
    // A press that may become a drag.
    int pressList_ = -1, pressItem_ = -1;
    QPoint pressAt_;
    std::unique_ptr<QLabel> image_;
};

}  // namespace rk
