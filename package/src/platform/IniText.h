// Parses INI text held in memory, entry by entry. Linux: inih; Windows, where
// no inih is at hand: the same line rules in IniTextWindows.cpp.
#pragma once

namespace package::ini {

// Called per key=value entry; returning 0 marks the entry's line as failed.
using EntryHandler = int (*)(void* user, const char* section, const char* key, const char* value);

// 0 when every line was read, otherwise the number of the first failed line
// (a line that is no entry, or whose handler returned 0).
int ParseText(const char* text, EntryHandler handler, void* user);

}  // namespace package::ini
