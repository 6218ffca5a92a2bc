#include "app/dlg_effect_type.h"

#include <QPushButton>

#include "app/control_ids.h"
#include "app/effect_templates.h"
#include "ui/operator.h"

namespace rk {

namespace {

constexpr int kTypeTexts[] = {IDC_TYPE_SIMPLE_CUT, IDC_TYPE_WIPE, IDC_TYPE_MIX, IDC_TYPE_VERTICAL_WIPE,
                              IDC_TYPE_HORIZONTAL_WIPE};
constexpr int kTypeFrames[] = {IDC_TYPE_SIMPLE_CUT_FRAME, IDC_TYPE_WIPE_FRAME, IDC_TYPE_MIX_FRAME,
                               IDC_TYPE_VERTICAL_WIPE_FRAME, IDC_TYPE_HORIZONTAL_WIPE_FRAME};

}  // namespace

CDlgEffectType::CDlgEffectType(QWidget* owner) : CCoolDialog(EffectTypeTemplate(), owner) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    RestyleControls();
    Translate();
    ShowPicture(IDC_BOX_ICON, static_cast<int>(kIconQuestion));
    for (int t = 0; t < 5; ++t)
        connect(ControlAs<CClickLabel>(kTypeTexts[t]), &CClickLabel::clicked, this, [this, t] { ChooseType(t); });
    connect(ControlAs<CClickLabel>(IDC_TYPE_WITH_SOUND), &CClickLabel::clicked, this, [this] { ChooseSound(true); });
    connect(ControlAs<CClickLabel>(IDC_TYPE_NO_SOUND), &CClickLabel::clicked, this, [this] { ChooseSound(false); });
    connect(ControlAs<QPushButton>(IDC_EFFECT_OK), &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    connect(ControlAs<QPushButton>(IDC_EFFECT_CANCEL), &QPushButton::clicked, this,
            [this] { done(QDialog::Rejected); });
    SetEscapeButton(IDC_EFFECT_CANCEL);
    setFixedSize(size());
    Open();
}

void CDlgEffectType::StyleControl(int id, QWidget* control) {
    CCoolDialog::StyleControl(id, control);
    switch (id) {
        case IDC_TYPE_SIMPLE_CUT: case IDC_TYPE_WIPE: case IDC_TYPE_MIX: case IDC_TYPE_VERTICAL_WIPE:
        case IDC_TYPE_HORIZONTAL_WIPE: case IDC_TYPE_WITH_SOUND: case IDC_TYPE_NO_SOUND:
            control->setStyleSheet(QStringLiteral("QLabel { color: rgb(0,200,0); background: transparent; }"));
            break;
        default: break;
    }
}

void CDlgEffectType::Open() {
    for (int id : {IDC_TYPE_WITH_SOUND, IDC_TYPE_NO_SOUND}) ShowControl(id, soundShown_);
    // The animated wipes are never offered.
    for (int t = 0; t < 5; ++t) ShowControl(kTypeTexts[t], t < 3 && Offered(t));
    for (int id : {IDC_TYPE_VERTICAL_WIPE_FRAME, IDC_TYPE_HORIZONTAL_WIPE_FRAME}) ShowControl(id, false);
    UpdateFrames();
}

void CDlgEffectType::showEvent(QShowEvent* event) {
    // The caller's settings count from the moment the dialog opens.
    Open();
    CCoolDialog::showEvent(event);
}

void CDlgEffectType::UpdateFrames() {
    for (int t = 0; t < 3; ++t) ShowControl(kTypeFrames[t], type_ == t);
    ShowControl(IDC_TYPE_WITH_SOUND_FRAME, soundShown_ && withSound_);
    ShowControl(IDC_TYPE_NO_SOUND_FRAME, soundShown_ && !withSound_);
}

bool CDlgEffectType::Offered(int type) const { return type >= 0 && type < 3 && ((offered_ >> type) & 1u) != 0; }

void CDlgEffectType::ChooseType(int type) {
    if (type < 0 || type > 4 || type == type_) return;
    type_ = type;
    UpdateFrames();
}

void CDlgEffectType::ChooseSound(bool withSound) {
    withSound_ = withSound;
    UpdateFrames();
}

bool CDlgEffectType::Run() { return exec() == QDialog::Accepted; }

}  // namespace rk
