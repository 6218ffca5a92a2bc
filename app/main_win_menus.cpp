#include "app/main_win_menus.h"

#include <QAction>
#include <QKeySequence>
#include <QListWidget>
#include <QMenu>
#include <functional>

#include "app/control_states.h"
#include "app/main_win.h"

namespace rk {

namespace {

using Handler = std::function<void(CMainWin&)>;

struct MenuEntry {
    int control;      // the button (or label) whose text, state and handler the entry takes
    Handler handler;  // empty for a separator (control 0) and the end modes
    const char* key;  // a key that does the same, shown beside the text, or nullptr
};

// The operations of each list, in the order of their buttons.
std::vector<MenuEntry> EntriesOf(int listId) {
    switch (listId) {
        case IDC_VIDEO_LIST:
            return {{IDC_VIDEO_ADD, &CMainWin::AddVideo, nullptr},
                    {IDC_VIDEO_DELETE, &CMainWin::DeleteVideo, "Del"},
                    {IDC_VIDEO_READ, &CMainWin::ReadVideo, nullptr}};
        case IDC_PLAYLIST_LIST:
        case IDC_CLIP_LIST: {
            std::vector<MenuEntry> e;
            if (listId == IDC_CLIP_LIST) e.push_back({IDC_REMOVE_CLIP, &CMainWin::RemoveClip, "Del"});
            e.push_back({IDC_CLEAR_PLAYLIST, &CMainWin::ClearPlaylist, listId == IDC_PLAYLIST_LIST ? "Del" : nullptr});
            e.push_back({0, nullptr, nullptr});
            e.push_back({IDC_STOP_ON_LAST, nullptr, nullptr});  // the end modes: handled apart
            e.push_back({IDC_REPEAT_PLAYLIST, nullptr, nullptr});
            return e;
        }
        case IDC_STILL_LIST:
            return {{IDC_STILL_ADD, &CMainWin::AddStill, nullptr},
                    {IDC_STILL_DELETE, &CMainWin::DeleteStill, "Del"},
                    {IDC_STILL_READ, &CMainWin::ReadStill, nullptr}};
        case IDC_EFFECT_LIST:
            return {{IDC_EFFECT_ADD, &CMainWin::AddStinger, nullptr},
                    {IDC_EFFECT_DELETE, &CMainWin::DeleteStinger, "Del"},
                    {IDC_EFFECT_READ, &CMainWin::ReadStinger, nullptr}};
        case IDC_LOGO_LIST:
            return {{IDC_LOGO_ADD, &CMainWin::AddLogo, nullptr},
                    {IDC_LOGO_DELETE, &CMainWin::DeleteLogo, "Del"},
                    {IDC_LOGO_READ, &CMainWin::ReadLogo, nullptr}};
        case CWindowMenus::kCardMenu:
            return {{IDC_FORMAT, &CMainWin::Format, nullptr},
                    {IDC_REFRESH, [](CMainWin& w) { w.ScanMedia(true); }, "F5"},
                    {IDC_CHECK_CARD, &CMainWin::CheckCard, nullptr},
                    {0, nullptr, nullptr},
                    {IDC_ABOUT, &CMainWin::ShowAbout, nullptr}};
        default:
            return {};
    }
}

constexpr int kMenuLists[] = {IDC_VIDEO_LIST, IDC_PLAYLIST_LIST, IDC_CLIP_LIST,
                              IDC_STILL_LIST, IDC_EFFECT_LIST,   IDC_LOGO_LIST};

}  // namespace

CWindowMenus::CWindowMenus(CMainWin& win) : QObject(&win), win_(win) {
    for (int id : kMenuLists) {
        QListWidget* list = win_.List(id);
        if (!list) continue;
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        // A list reports the point in its viewport's coordinates.
        connect(list, &QWidget::customContextMenuRequested, this,
                [this, id, list](const QPoint& pos) { Open(id, list->viewport(), pos); });
    }
    win_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&win_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { Open(kCardMenu, &win_, pos); });
}

std::unique_ptr<QMenu> CWindowMenus::MenuFor(int listId) const {
    auto menu = std::make_unique<QMenu>(&win_);
    menu->setObjectName(QStringLiteral("contextMenu%1").arg(listId));
    const auto states = DecideControlStates(win_.Facts());
    const WindowFacts facts = win_.Facts();
    for (const MenuEntry& e : EntriesOf(listId)) {
        if (e.control == 0) {
            menu->addSeparator();
            continue;
        }
        QString text = win_.ControlText(e.control);
        if (e.key) text += QLatin1Char('\t') + QKeySequence(QString::fromLatin1(e.key)).toString(QKeySequence::NativeText);
        QAction* a = menu->addAction(text);
        a->setObjectName(QStringLiteral("action%1").arg(e.control));
        a->setData(e.control);
        const auto it = states.find(e.control);
        a->setEnabled(it != states.end() && it->second.shown && it->second.enabled);
        CMainWin* win = &win_;
        if (e.control == IDC_STOP_ON_LAST || e.control == IDC_REPEAT_PLAYLIST) {
            // The two end modes: one of them is the playlist's.
            const bool repeat = e.control == IDC_REPEAT_PLAYLIST;
            a->setCheckable(true);
            a->setChecked(a->isEnabled() && facts.playlistLoops == repeat);
            connect(a, &QAction::triggered, win, [win, repeat] {
                if (!win->Busy()) win->SetPlaylistLoop(repeat);
            });
            continue;
        }
        const Handler handler = e.handler;
        connect(a, &QAction::triggered, win, [win, handler] {
            if (!win->Busy()) handler(*win);
        });
    }
    if (listId != kCardMenu) win_.AddPreviewEntries(*menu, listId);
    return menu;
}

void CWindowMenus::Open(int listId, QWidget* where, const QPoint& pos) {
    if (win_.Busy()) return;
    std::unique_ptr<QMenu> menu = MenuFor(listId);
    if (menu->isEmpty()) return;
    menu->exec(where->mapToGlobal(pos));
}

}  // namespace rk
