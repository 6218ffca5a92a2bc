#include "app/dlg_anim_logo.h"

#include <QComboBox>
#include <QPushButton>

#include "app/control_ids.h"
#include "app/effect_templates.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "ui/operator.h"

namespace rk {

namespace {
constexpr int kSpeeds = 5;
}

CDlgAnimLogo::CDlgAnimLogo(QWidget* owner, int speedIndex)
    : CCoolDialog(AnimLogoTemplate(), owner), speed_(speedIndex >= 0 && speedIndex < kSpeeds ? speedIndex : 0) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    Translate();
    ShowPicture(IDC_BOX_ICON, static_cast<int>(kIconQuestion));
    auto* speeds = ControlAs<QComboBox>(IDC_BOX_SPEED);
    for (int i = 0; i < kSpeeds; ++i) speeds->addItem(QString::fromStdString(LoadText(IDS_SPEED_NORMAL + i)));
    speeds->setCurrentIndex(speed_);
    FitDropList(IDC_BOX_SPEED);
    connect(ControlAs<QPushButton>(IDC_BOX_YES), &QPushButton::clicked, this, [this, speeds] {
        speed_ = speeds->currentIndex();
        accept();
    });
    connect(ControlAs<QPushButton>(IDC_BOX_NO), &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
    SetEscapeButton(IDC_BOX_NO);
    setFixedSize(size());
}

bool CDlgAnimLogo::Run() { return exec() == QDialog::Accepted; }

}  // namespace rk
