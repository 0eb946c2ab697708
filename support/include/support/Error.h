#pragma once

#include <cstdint>
#include <string>

// The text of its owner's most recent failure. Each owner holds one as a member;
// a success leaves the text alone, the next failure replaces it. Not locked: an
// owner's record is written by one thread at a time and read after a join.
class CError {
public:
    CError() = default;
    virtual ~CError() = default;

    void SetErrorText(const std::wstring& text) { m_errorText = text; }
    std::wstring GetErrorText() const { return m_errorText; }

private:
    std::wstring m_errorText;
};

// Where a failure text comes from: the operation and its number, written as
// {Class::Operation:line[n]}. The numbers are stable message identifiers, not
// source lines: users and scripts already know the texts by them, so they stay
// as they are when the code around them changes. Each class keeps its sites in
// one table of named constants.
struct FailureSite {
    const char* operation;
    int line;
};

// {code}{Class::Operation:line[n]}{detail}
std::wstring FormatFailureText(std::int32_t code, const char* operation, int line, const std::wstring& detail);
std::wstring FormatFailureText(std::int32_t code, const FailureSite& site, const std::wstring& detail);
