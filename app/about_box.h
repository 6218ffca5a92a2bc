#pragma once
// CAboutBox: the program's name and version and the versions of the bundled
// conversion tools, as each reports itself (ffmpeg, ffprobe, img_convert).
#include <string>
#include <vector>

#include "app/cool_dialog.h"
#include "convert/tool_versions.h"

namespace rk {

// The program's version ("0.1.0").
const char* ProgramVersion();

class CAboutBox : public CCoolDialog {
    Q_OBJECT
public:
    // `tools` as BundledToolVersions() gives them; a tool with an empty line
    // is shown as not found.
    CAboutBox(const std::vector<ToolVersion>& tools, QWidget* owner);
    // The lines of the tool list, as shown.
    QStringList ToolLines() const { return toolLines_; }

private:
    QStringList toolLines_;
};

// Asks the tools for their versions and shows the box modally.
void ShowAboutBox(QWidget* owner);

}  // namespace rk
