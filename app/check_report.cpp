#include "app/check_report.h"

#include <QListWidget>
#include <QPushButton>

#include "app/control_ids.h"

namespace rk {

namespace {

using K = ControlKind;
constexpr unsigned R = kMoveRight, D = kMoveDown, W = kGrowWidth, H = kGrowHeight;

constexpr ControlDef kReport[] = {
    {IDC_BOX_ICON, K::Icon, 8, 8, 16, 16, nullptr, 0},
    {IDC_BOX_TEXT, K::Text, 36, 8, 276, 24, nullptr, W},
    {IDC_INFO_LIST, K::ListView, 8, 36, 304, 136, nullptr, W | H},
    {-1, K::Rule, 8, 178, 304, 1, nullptr, D | W},
    {IDC_BOX_OK, K::Button, 262, 184, 50, 12, nullptr, R | D},
};
constexpr DialogTemplate kReportTemplate{IDD_CHECK_REPORT, nullptr, 320, 200, kReport};

}  // namespace

CDlgCheckReport::CDlgCheckReport(MsgIcon icon, const QString& headline, const QStringList& findings,
                                 QWidget* owner)
    : CCoolDialog(kReportTemplate, owner) {
    setObjectName(QStringLiteral("checkReport"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    SetCloseAllowed(true);
    Translate();
    ShowPicture(IDC_BOX_ICON, static_cast<int>(icon));
    SetControlText(IDC_BOX_TEXT, headline);
    // The template's list shows thumbnails; the findings are lines of text,
    // each shown whole (wrapped), in the order the check found them.
    QListWidget* list = Findings();
    list->setViewMode(QListView::ListMode);
    list->setUniformItemSizes(false);
    list->setWordWrap(true);
    list->setTextElideMode(Qt::ElideNone);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const QString& f : findings) list->addItem(f);
    connect(ControlAs<QPushButton>(IDC_BOX_OK), &QPushButton::clicked, this, &QDialog::accept);
    // Escape and Enter close the report as OK does.
    SetEscapeButton(IDC_BOX_OK);
    setMinimumSize(size());
}

QListWidget* CDlgCheckReport::Findings() const { return ControlAs<QListWidget>(IDC_INFO_LIST); }

QString CDlgCheckReport::Headline() const { return ControlText(IDC_BOX_TEXT); }

}  // namespace rk
