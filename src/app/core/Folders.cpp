#include "app/core/Folders.h"

#include "common/Utf8Path.h"

#include <filesystem>

namespace {

// Both sides as the file system names them, so a symbolic link or a trailing slash does not hide
// the install folder.
bool SameFolder(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return false;
    std::error_code error;
    const auto left = std::filesystem::weakly_canonical(PathFromUtf8(a), error);
    if (error)
        return false;
    const auto right = std::filesystem::weakly_canonical(PathFromUtf8(b), error);
    if (error)
        return false;
    return left.lexically_normal() == right.lexically_normal();
}

} // namespace

TFolders ChooseFolders(const TFolderPlaces& places) {
    if (!places.FolderOption.empty())
        return {places.FolderOption, places.FolderOption};
    if (SameFolder(places.ProgramFolder, places.InstallBinFolder))
        return {places.ConfigFolder, places.DataFolder};
    return {places.ProgramFolder, places.ProgramFolder};
}

std::string InstalledUnder(const std::string& programFolder, const std::vector<std::string>& programRoots) {
    const auto normal = [](std::string path) {
        for (char& c : path) {
            if (c == '\\')
                c = '/';
            else if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    };
    const std::string program = normal(programFolder);
    for (const std::string& root : programRoots) {
        const std::string folder = normal(root);
        if (!folder.empty() && program.size() > folder.size() && program.compare(0, folder.size(), folder) == 0 &&
            program[folder.size()] == '/')
            return programFolder;
    }
    return {};
}
