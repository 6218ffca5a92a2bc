#pragma once
// The operator seam: everything an operation asks of the person in front of
// the machine goes through this one interface, so that the window, the
// terminal and the tests run the same operations.
#include <cstdint>
#include <string>

namespace rk {

enum MsgKind : int { kMsgNotice = 0, kMsgQuestion = 1 };
enum MsgIcon : int { kIconWarning = 301, kIconInformation = 302, kIconError = 303, kIconQuestion = 304 };
enum MsgResult : int { kResultOk = 0, kResultYes = 1, kResultNo = 2 };

// What the front-end should show again after an operation changed the card.
enum RefreshWhat : unsigned {
    kRefreshCardLine = 1u << 0,  // the free-space text and the controls' states
    kRefreshLists = 1u << 1,     // the item lists
    kRescanMedia = 1u << 2,      // a rescan of the drives (after a write error)
};

struct FileChoice {
    // Filter in the "Name (*.a;*.b)|*.a;*.b|Other|*.c||" form.
    std::string filter;
    std::string initialName;
    std::string defaultExtension;  // without the dot; save dialogs only
};

class IOperator {
public:
    virtual ~IOperator() = default;

    // kind 0: one "OK" button, answers 0; kind 1: "Yes" answers 1, "No" answers 2.
    virtual int ShowMessage(int kind, int icon, const std::string& text) = 0;

    // Returns false when the person cancels.
    virtual bool ChooseOpenFile(const FileChoice& choice, std::string& path) = 0;
    virtual bool ChooseSaveFile(const FileChoice& choice, std::string& path) = 0;

    // The progress protocol. BeginProgress marks the front-end busy;
    // PumpMessages keeps it responsive and answers whether Stop was asked for.
    virtual void BeginProgress(int64_t total) = 0;
    virtual void SetProgress(int64_t position, bool error) = 0;
    virtual bool PumpMessages() = 0;
    virtual void EndProgress() = 0;

    virtual void Refresh(unsigned what) = 0;
};

// A message by string id, loaded through the language packs and formatted.
int MessageById(IOperator& op, int kind, int icon, int stringId, ...);
// An error notice (kind 0, icon 303) by string id.
void ErrorById(IOperator& op, int stringId);

}  // namespace rk
