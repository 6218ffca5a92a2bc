#pragma once
// CTickSlider: a slider that draws tick marks at values chosen one by one
// (the editor's frame slider marks the frames that hold keys), with page and
// line steps of 1.
#include <QSlider>
#include <vector>

namespace rk {

class CTickSlider : public QSlider {
    Q_OBJECT
public:
    CTickSlider(Qt::Orientation orientation, QWidget* parent);

    void ClearTicks();
    void AddTick(int value);
    // The values that carry a tick, ascending.
    const std::vector<int>& Ticks() const { return ticks_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<int> ticks_;
};

}  // namespace rk
