#pragma once
// The whole caption of a list's selected item. A thumbnail list gives every
// item a grid cell of fixed size, so a long video name is cut short in its
// cell; the selected item's caption is shown whole in a panel below its
// picture, wrapped to the cell's width and as tall as it needs, over
// whatever lies beneath (the items below show again when the selection
// moves). The panel lets the mouse through to the list.
#include <QObject>
#include <QWidget>

class QListWidget;

namespace rk {

class CCaptionPanel : public QWidget {
    Q_OBJECT
public:
    explicit CCaptionPanel(QListWidget* list);
    // Places the panel under the selected item, or hides it.
    void Follow();
    QString Text() const { return text_; }
    // The height the text needs at `width` pixels, wrapped at word
    // boundaries (anywhere inside a word longer than the width).
    static int TextHeight(const QString& text, const QFont& font, int width);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QListWidget* list_;
    QString text_;
};

}  // namespace rk
