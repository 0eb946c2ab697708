#include <ini.h>

#include "IniText.h"

namespace package::ini {

int ParseText(const char* text, EntryHandler handler, void* user) { return ini_parse_string(text, handler, user); }

}  // namespace package::ini
