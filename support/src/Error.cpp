#include "support/Error.h"

#include "support/FormatString.h"

std::wstring FormatFailureText(std::int32_t code, const char* operation, int line, const std::wstring& detail) {
    return FormatString(L"{%d}{%S:line[%d]}{%s}", code, operation, line, detail.c_str());
}

std::wstring FormatFailureText(std::int32_t code, const FailureSite& site, const std::wstring& detail) {
    return FormatFailureText(code, site.operation, site.line, detail);
}
