#pragma once
// The main window's context menus: each list offers the operations of its
// page (the same handlers as the buttons, enabled exactly when the button
// would be shown), and the window's own area the card's commands.
#include <QObject>
#include <memory>

class QMenu;
class QPoint;

namespace rk {

class CMainWin;

class CWindowMenus : public QObject {
    Q_OBJECT
public:
    // The list id for the window's own area (the card's commands).
    static constexpr int kCardMenu = 0;

    explicit CWindowMenus(CMainWin& win);
    // The menu of list `listId` (or kCardMenu) as it would open now.
    std::unique_ptr<QMenu> MenuFor(int listId) const;

private:
    void Open(int listId, QWidget* where, const QPoint& pos);
    CMainWin& win_;
};

}  // namespace rk
