#include "camera/Result.h"

std::wstring GetStatusCodeText(std::int32_t code) {
    switch (code) {
        case 0: return L"Success";
        case 2: return L"Open device error";
        case 5: return L"Enter upgrade mode error";
        case 6:
        case 8:
        case 10:
        case 21: return L"Burning";
        case 7: return L"Burning the file failed";
        case 9: return L"Leave upgrade mode error";
        case 11: return L"Upgrade file parsing failure";
        case 13: return L"File version mismatch";
        case 17: return L"Close device error";
        case 19: return L"Burning the CameraInfo failed";
        case 22: return L"Burning the firmware failed";
        case 23: return L"Burning the FPGA failed";
        case 24: return L"Burning the param failed";
        case 28: return L"Don't support upgrade";
        case 29: return L"Device Flash Vendor ID Retrieval Failed";
        case 30: return L"Failed to Get The Configuration File To Burn The Old And New Flags Of The File";
        case 31: return L"Device Flash Vendor ID Failed To Match Burn File";
        default: return std::wstring();
    }
}

void CResult::SetCode(std::int32_t code) {
    std::wstring text = GetStatusCodeText(code);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_code = code;
    m_text.swap(text);
}

std::int32_t CResult::GetCode() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_code;
}

std::wstring CResult::GetText() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_text;
}

void CResult::Get(std::int32_t& code, std::wstring& text) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    code = m_code;
    text = m_text;
}
