#pragma once
// File dialog filters: the operations give them as "Name (*.a;*.b)|*.a;*.b|
// Other|*.c||"; Qt's file dialogs want "Name (*.a *.b);;Other (*.c)".
#include <QString>
#include <string>

namespace rk {

// Converts a filter. Each description/pattern pair becomes one Qt filter; a
// description's own parenthesised pattern list is replaced by the pair's
// patterns. Empty pairs are skipped; a description without patterns matches
// everything. Never fails: an empty or broken filter gives "All files (*)".
QString QtFileFilter(const std::string& windowsFilter);

}  // namespace rk
