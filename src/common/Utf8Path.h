// The program keeps file names in UTF-8. A std::filesystem::path made from a narrow string takes
// it in the ANSI code page on Windows, so a folder named with letters outside ASCII (a user's own
// folder, for one) would not be found there: names cross into and out of paths through these.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

inline std::filesystem::path PathFromUtf8(std::string_view name) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
    return std::filesystem::path(name);
#endif
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
#else
    return path.string();
#endif
}
