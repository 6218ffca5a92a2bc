#include "app/about_box.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "app/control_ids.h"
#include "app/skin.h"
#include "base/log.h"
#include "base/texts.h"

#ifndef RK_VERSION_STRING
#define RK_VERSION_STRING "0.0.0"
#endif

namespace rk {

namespace {

using K = ControlKind;

constexpr ControlDef kAbout[] = {
    {IDC_BOX_ICON, K::Icon, 8, 8, 20, 20, nullptr, 0},
    {IDC_BOX_TEXT, K::Label, 36, 8, 196, 12, nullptr, 0},
    {IDC_INFO_VERSION, K::Label, 36, 20, 196, 12, nullptr, 0},
    {IDC_INFO_LIST, K::Text, 8, 38, 224, 48, nullptr, 0},
    {-1, K::Rule, 8, 90, 224, 1, nullptr, 0},
    {IDC_BOX_OK, K::Button, 182, 96, 50, 12, nullptr, 0},
};
constexpr DialogTemplate kAboutTemplate{IDD_ABOUT, nullptr, 240, 114, kAbout};

}  // namespace

const char* ProgramVersion() { return RK_VERSION_STRING; }

CAboutBox::CAboutBox(const std::vector<ToolVersion>& tools, QWidget* owner) : CCoolDialog(kAboutTemplate, owner) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    SetCloseAllowed(true);
    Translate();
    if (auto* icon = ControlAs<QLabel>(IDC_BOX_ICON))
        icon->setPixmap(skin::AppIcon().pixmap(TemplateRect(IDC_BOX_ICON).size()));
    SetControlText(IDC_BOX_TEXT, QString::fromStdString(LoadText(IDS_APP_TITLE)));
    if (auto* title = ControlAs<QLabel>(IDC_BOX_TEXT)) {
        QFont f = title->font();
        f.setWeight(QFont::Bold);
        title->setFont(f);
    }
    SetControlText(IDC_INFO_VERSION, QString::fromStdString(FormatText(IDS_ABOUT_VERSION, ProgramVersion())));
    for (const ToolVersion& t : tools) {
        const std::string line = t.line.empty() ? FormatText(IDS_ABOUT_TOOL_MISSING, t.tool.c_str())
                                                : t.tool + ": " + t.line;
        toolLines_ << QString::fromStdString(line);
    }
    if (auto* list = ControlAs<QLabel>(IDC_INFO_LIST)) {
        list->setText(toolLines_.join(QLatin1Char('\n')));
        list->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    // Every tool's version line shows whole, however many lines it wraps to.
    GrowTextDown(IDC_INFO_LIST);
    connect(ControlAs<QPushButton>(IDC_BOX_OK), &QPushButton::clicked, this, &QDialog::accept);
    SetEscapeButton(IDC_BOX_OK);
    setFixedSize(size());
}

void ShowAboutBox(QWidget* owner) {
    // The tools answer in a few milliseconds each; the pointer says we wait.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<ToolVersion> tools = BundledToolVersions();
    QApplication::restoreOverrideCursor();
    for (const ToolVersion& t : tools) LogMessage(2, "About: %s: %s", t.tool.c_str(), t.line.c_str());
    CAboutBox box(tools, owner);
    box.exec();
}

}  // namespace rk
