#pragma once
// CEmptyText: what an empty list says to do ("Insert a card, ..."), shown in
// the middle of the list's viewport while the list has no rows. It never
// takes the mouse: drops and clicks reach the list beneath it.
#include <QLabel>

class QListWidget;

namespace rk {

class CEmptyText : public QLabel {
    Q_OBJECT
public:
    explicit CEmptyText(QListWidget* list);
    // Shows `text` while the list is empty; an empty text hides it.
    void Say(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Place();
    QListWidget* list_;
};

}  // namespace rk
