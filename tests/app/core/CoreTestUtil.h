// Helpers of the application core's tests: a temporary folder, whole-file bytes, trace texts
// and a scoped decimal separator.
#pragma once

#include "TraceText.h"
#include "common/Numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace coretest {

// A fresh folder below the system's temporary folder, removed with everything in it.
class TTempFolder {
public:
    TTempFolder() {
        // A random name created exclusively: create_directory says whether it was new.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && FPath.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("app_core_" + std::to_string(random()) + std::to_string(random()));
            if (std::filesystem::create_directory(candidate))
                FPath = candidate.generic_string();
        }
        if (FPath.empty())
            throw std::runtime_error("no temporary folder");
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    ~TTempFolder() {
        std::error_code ignored;
        std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(FPath, ignored);
    }
    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

// A file name as the system's messages show it to the operator: with backslashes on Windows.
inline std::string Shown(std::string fileName) {
#ifdef _WIN32
    std::replace(fileName.begin(), fileName.end(), '/', '\\');
#endif
    return fileName;
}

inline void WriteBytes(const std::string& fileName, const std::string& bytes) {
    std::ofstream out(fileName, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << fileName;
}

inline std::string ReadBytes(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using trace_text::Circle;
using trace_text::Ellipse;
using trace_text::MakeTrace;

// Sets the process's decimal separator for the life of the object.
class TSeparator {
public:
    explicit TSeparator(char separator) : FSaved(DecimalSeparator()) { SetDecimalSeparator(separator); }
    TSeparator(const TSeparator&) = delete;
    TSeparator& operator=(const TSeparator&) = delete;
    ~TSeparator() { SetDecimalSeparator(FSaved); }

private:
    char FSaved;
};

} // namespace coretest
