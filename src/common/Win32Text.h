// Text at the Win32 boundary: the program keeps paths and messages in UTF-8, the wide-character
// calls of Windows take UTF-16, and the system's error texts come from FormatMessageW.
#pragma once
#ifdef _WIN32

#include <string>
#include <string_view>

std::wstring Widen(std::string_view Utf8);
std::string Narrow(std::wstring_view Utf16);

// The system's text for an error code, in English where the system has it, otherwise in the
// language it offers; without trailing blanks and full stops.
std::string Win32ErrorText(unsigned long Code);

#endif
