#pragma once
// The Format command's work once the operator has chosen a mode (the format
// dialog is the front-end's): write the empty directory, then tell the
// operator.
namespace rk {

class CSDCard;
class IOperator;

// Formats the open card for `mode` (only Clusters 0 to 2 are written).
// Written: the lists and card line are refreshed and "Format complete..." is
// shown. Not written: the card has shown its write message; a media rescan
// is asked for. Does nothing and answers false when no card is open.
bool FormatCard(CSDCard& card, IOperator& op, int mode);

}  // namespace rk
