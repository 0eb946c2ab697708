// Wide printf with the Windows meaning of the conversions. glibc reads %s as an
// 8-bit string in wide formats and refuses non-ASCII 8-bit text in the "C"
// locale, so each conversion is taken apart here: strings are converted by the
// platform layer and only plain wide strings and numbers reach swprintf.
#include "support/FormatString.h"

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <type_traits>
#include <string>
#include <vector>

#include "support/Platform.h"

namespace {

// Widths and precisions beyond this change nothing in the first 1023 characters.
constexpr int kMaxFieldWidth = 4096;

enum class Length { None, hh, h, l, ll, L, z, j, t };

struct FieldFormat {
    std::wstring flags;
    int width = -1;
    int precision = -1;
    Length length = Length::None;
    bool narrowString = false;  // h on s/c, or the capital conversions
};

std::wstring Piece(const wchar_t* format, ...) {
    std::vector<wchar_t> buffer(2 * kMaxFieldWidth + 512);
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    return n < 0 ? std::wstring() : std::wstring(buffer.data(), static_cast<std::size_t>(n));
}

std::wstring Directive(const FieldFormat& field, const wchar_t* lengthAndConversion) {
    std::wstring d = L"%" + field.flags;
    if (field.width >= 0) d += std::to_wstring(field.width);
    if (field.precision >= 0) d += L"." + std::to_wstring(field.precision);
    d += lengthAndConversion;
    return d;
}

std::wstring FormatText(const FieldFormat& field, const std::wstring& text) {
    // Only the first characters can reach the result; a longer argument would
    // not fit the piece buffer and make the whole conversion fail.
    const std::wstring shown = text.size() > kFormatStringMaxChars ? text.substr(0, kFormatStringMaxChars) : text;
    return Piece(Directive(field, L"ls").c_str(), shown.c_str());
}

}  // namespace

std::wstring FormatString(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring result = FormatStringV(format, args);
    va_end(args);
    return result;
}

std::wstring FormatStringV(const wchar_t* format, va_list args) {
    std::wstring out;
    if (format == nullptr) return out;
    va_list ap;
    va_copy(ap, args);

    const wchar_t* p = format;
    while (*p != L'\0' && out.size() < kFormatStringMaxChars) {
        if (*p != L'%') {
            out.push_back(*p++);
            continue;
        }
        const wchar_t* start = p++;
        if (*p == L'%') {
            out.push_back(L'%');
            ++p;
            continue;
        }
        FieldFormat field;
        while (*p != L'\0' && std::wcschr(L"-+ #0", *p) != nullptr) field.flags.push_back(*p++);
        if (*p == L'*') {
            int w = va_arg(ap, int);
            if (w < 0) {
                field.flags.push_back(L'-');
                w = (w == INT32_MIN) ? kMaxFieldWidth : -w;
            }
            field.width = w;
            ++p;
        } else if (*p >= L'0' && *p <= L'9') {
            long w = 0;
            while (*p >= L'0' && *p <= L'9') w = std::min<long>(w * 10 + (*p++ - L'0'), kMaxFieldWidth);
            field.width = static_cast<int>(w);
        }
        if (field.width > kMaxFieldWidth) field.width = kMaxFieldWidth;
        if (*p == L'.') {
            ++p;
            if (*p == L'*') {
                field.precision = va_arg(ap, int);  // negative: as if none
                ++p;
            } else {
                long prec = 0;
                while (*p >= L'0' && *p <= L'9') prec = std::min<long>(prec * 10 + (*p++ - L'0'), kMaxFieldWidth);
                field.precision = static_cast<int>(prec);
            }
            if (field.precision > kMaxFieldWidth) field.precision = kMaxFieldWidth;
        }
        // Length modifiers, with the Windows I64/I32/I/w forms.
        if (p[0] == L'h' && p[1] == L'h') {
            field.length = Length::hh;
            p += 2;
        } else if (p[0] == L'h') {
            field.length = Length::h;
            field.narrowString = true;
            ++p;
        } else if (p[0] == L'l' && p[1] == L'l') {
            field.length = Length::ll;
            p += 2;
        } else if (p[0] == L'l' || p[0] == L'w') {
            field.length = Length::l;
            ++p;
        } else if (p[0] == L'L') {
            field.length = Length::L;
            ++p;
        } else if (p[0] == L'z') {
            field.length = Length::z;
            ++p;
        } else if (p[0] == L'j') {
            field.length = Length::j;
            ++p;
        } else if (p[0] == L't') {
            field.length = Length::t;
            ++p;
        } else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            field.length = Length::ll;
            p += 3;
        } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
            field.length = Length::None;
            p += 3;
        } else if (p[0] == L'I') {
            field.length = Length::z;
            ++p;
        }

        const wchar_t conversion = *p;
        if (conversion == L'\0') {
            out.append(start, p);  // an unfinished directive is copied as it stands
            break;
        }
        ++p;
        switch (conversion) {
            case L'd':
            case L'i': {
                long long v;
                switch (field.length) {
                    case Length::l: v = va_arg(ap, long); break;
                    case Length::ll: v = va_arg(ap, long long); break;
                    case Length::z:
                    case Length::t: v = va_arg(ap, std::ptrdiff_t); break;
                    case Length::j: v = va_arg(ap, std::intmax_t); break;
                    case Length::hh: v = static_cast<signed char>(va_arg(ap, int)); break;
                    case Length::h: v = static_cast<short>(va_arg(ap, int)); break;
                    default: v = va_arg(ap, int); break;
                }
                const wchar_t conv[] = {L'l', L'l', conversion, L'\0'};
                out += Piece(Directive(field, conv).c_str(), v);
                break;
            }
            case L'u':
            case L'o':
            case L'x':
            case L'X': {
                unsigned long long v;
                switch (field.length) {
                    case Length::l: v = va_arg(ap, unsigned long); break;
                    case Length::ll: v = va_arg(ap, unsigned long long); break;
                    case Length::z:
                    case Length::t: v = va_arg(ap, std::size_t); break;
                    case Length::j: v = va_arg(ap, std::uintmax_t); break;
                    case Length::hh: v = static_cast<unsigned char>(va_arg(ap, unsigned int)); break;
                    case Length::h: v = static_cast<unsigned short>(va_arg(ap, unsigned int)); break;
                    default: v = va_arg(ap, unsigned int); break;
                }
                const wchar_t conv[] = {L'l', L'l', conversion, L'\0'};
                out += Piece(Directive(field, conv).c_str(), v);
                break;
            }
            case L'e':
            case L'E':
            case L'f':
            case L'F':
            case L'g':
            case L'G':
            case L'a':
            case L'A': {
                if (field.length == Length::L) {
                    const long double v = va_arg(ap, long double);
                    const wchar_t conv[] = {L'L', conversion, L'\0'};
                    out += Piece(Directive(field, conv).c_str(), v);
                } else {
                    const double v = va_arg(ap, double);
                    const wchar_t conv[] = {conversion, L'\0'};
                    out += Piece(Directive(field, conv).c_str(), v);
                }
                break;
            }
            case L'c':
            case L'C': {
                const bool narrow = (conversion == L'C') ? field.length != Length::l : field.narrowString;
                std::wstring text;
                if (narrow) {
                    const char c = static_cast<char>(va_arg(ap, int));
                    text = platform::AnsiToWide(std::string_view(&c, 1));
                } else {
                    // wint_t is 16 bits on Windows and reaches us promoted to int.
                    using PromotedWideChar = std::conditional_t<(sizeof(wint_t) < sizeof(int)), int, wint_t>;
                    text.push_back(static_cast<wchar_t>(va_arg(ap, PromotedWideChar)));
                }
                FieldFormat noPrecision = field;
                noPrecision.precision = -1;
                out += FormatText(noPrecision, text);
                break;
            }
            case L's':
            case L'S': {
                const bool narrow = (conversion == L'S') ? field.length != Length::l : field.narrowString;
                std::wstring text;
                if (narrow) {
                    const char* s = va_arg(ap, const char*);
                    if (s == nullptr) {
                        text = L"(null)";
                    } else if (field.precision >= 0) {
                        // Precision counts 8-bit characters; never read past them.
                        std::size_t n = 0;
                        while (n < static_cast<std::size_t>(field.precision) && s[n] != '\0') ++n;
                        text = platform::AnsiToWide(std::string_view(s, n));
                    } else {
                        text = platform::AnsiToWide(s);
                    }
                } else {
                    const wchar_t* s = va_arg(ap, const wchar_t*);
                    if (s == nullptr) {
                        text = L"(null)";
                    } else if (field.precision >= 0) {
                        std::size_t n = 0;
                        while (n < static_cast<std::size_t>(field.precision) && s[n] != L'\0') ++n;
                        text.assign(s, n);
                    } else {
                        text = s;
                    }
                }
                FieldFormat noPrecision = field;
                noPrecision.precision = -1;
                out += FormatText(noPrecision, text);
                break;
            }
            case L'p': {
                const void* v = va_arg(ap, const void*);
                out += Piece(Directive(field, L"p").c_str(), v);
                break;
            }
            case L'n':
                // Writing through a caller's pointer is refused, as the Windows runtime does.
                (void)va_arg(ap, void*);
                break;
            default:
                out.append(start, p);  // unknown conversion: shown as written, no argument taken
                break;
        }
    }
    va_end(ap);
    if (out.size() > kFormatStringMaxChars) out.resize(kFormatStringMaxChars);
    return out;
}
