#include "support/Error.h"

#include "support/FormatString.h"

std::wstring FormatFailureText(std::int32_t code, const char* operation, int line,
                               const std::wstring& detail) {
    return FormatString(L"{%d}{%S:line[%d]}{%s}", code, operation, line, detail.c_str());
}
