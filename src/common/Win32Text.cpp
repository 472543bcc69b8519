#include "common/Win32Text.h"

#include <windows.h>

std::wstring Widen(std::string_view Utf8) {
    if (Utf8.empty())
        return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), static_cast<int>(Utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), static_cast<int>(Utf8.size()), wide.data(), size);
    return wide;
}

std::string Narrow(std::wstring_view Utf16) {
    if (Utf16.empty())
        return {};
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, Utf16.data(), static_cast<int>(Utf16.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, Utf16.data(), static_cast<int>(Utf16.size()), narrow.data(), size, nullptr,
                          nullptr);
    return narrow;
}

std::string Win32ErrorText(unsigned long Code) {
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = ::FormatMessageW(flags, nullptr, Code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                    reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0) // no English text installed: the system's own language
        length = ::FormatMessageW(flags, nullptr, Code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0)
        text = Narrow(std::wstring_view(buffer, length));
    if (buffer)
        ::LocalFree(buffer);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        text = "System error " + std::to_string(Code);
    return text;
}
