#pragma once
// CDlgCheckReport: the findings of a card check, one line each, under a
// headline that says how many there are.
#include <QStringList>

#include "app/cool_dialog.h"
#include "ui/operator.h"

class QListWidget;

namespace rk {

class CDlgCheckReport : public CCoolDialog {
    Q_OBJECT
public:
    CDlgCheckReport(MsgIcon icon, const QString& headline, const QStringList& findings, QWidget* owner);
    QListWidget* Findings() const;
    QString Headline() const;
};

}  // namespace rk
