#include "app/dlg_format.h"

#include <QComboBox>
#include <QPushButton>

#include "card/video_modes.h"
#include "ui/operator.h"

namespace rk {

CDlgFormat::CDlgFormat(QWidget* owner, int presetMode)
    : CCoolDialog(FormatTemplate(), owner), mode_(IsValidVideoMode(presetMode) ? presetMode : 0) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    Translate();
    ShowPicture(1005, static_cast<int>(kIconQuestion));
    auto* modes = ControlAs<QComboBox>(1006);
    for (int m = 0; m < kVideoModeCount; ++m) modes->addItem(QString::fromUtf8(VideoModeName(m)));
    modes->setCurrentIndex(mode_);
    FitDropList(1006);
    connect(ControlAs<QPushButton>(1000), &QPushButton::clicked, this, [this, modes] {
        mode_ = modes->currentIndex();
        accept();
    });
    connect(ControlAs<QPushButton>(1001), &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
    setFixedSize(size());
}

bool CDlgFormat::Run() { return exec() == QDialog::Accepted; }

}  // namespace rk
