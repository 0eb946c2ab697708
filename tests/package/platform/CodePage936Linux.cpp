#include <iconv.h>

#include "../CodePage936.h"

std::string FromCodePage936(const std::string& bytes) {
    iconv_t cd = ::iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no CP936 converter>";
    std::string in = bytes;
    std::string out(bytes.size() * 3, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    const std::size_t rc = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) return "<not CP936>";
    out.resize(out.size() - outLeft);
    return out;
}
