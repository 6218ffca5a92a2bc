#include "app/dlg_format.h"

#include <QComboBox>
#include <QPushButton>

#include "app/control_ids.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/video_modes.h"
#include "ui/operator.h"

namespace rk {

CDlgFormat::CDlgFormat(QWidget* owner, int presetMode, const QString& cardName)
    : CCoolDialog(FormatTemplate(), owner), mode_(IsValidVideoMode(presetMode) ? presetMode : 0) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    Translate();
    ShowPicture(IDC_BOX_ICON, static_cast<int>(kIconQuestion));
    if (!cardName.isEmpty())
        SetControlText(IDC_BOX_TEXT, ControlText(IDC_BOX_TEXT) + QStringLiteral("\n\n") +
                                         QString::fromStdString(FormatText(IDS_FORMAT_TARGET, cardName.toUtf8().constData())));
    // The warning and the card's name get the lines they need.
    GrowTextDown(IDC_BOX_TEXT);
    auto* modes = ControlAs<QComboBox>(IDC_BOX_CHOICE);
    for (int m = 0; m < kVideoModeCount; ++m) modes->addItem(QString::fromUtf8(VideoModeName(m)));
    modes->setCurrentIndex(mode_);
    FitDropList(IDC_BOX_CHOICE);
    connect(ControlAs<QPushButton>(IDC_BOX_YES), &QPushButton::clicked, this, [this, modes] {
        mode_ = modes->currentIndex();
        accept();
    });
    connect(ControlAs<QPushButton>(IDC_BOX_NO), &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
    SetEscapeButton(IDC_BOX_NO);
    setFixedSize(size());
}

bool CDlgFormat::Run() { return exec() == QDialog::Accepted; }

}  // namespace rk
