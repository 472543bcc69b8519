// Tests of the folder rule: which folder holds settings.txt and which the traces folder, for a
// build tree, a copy in a folder of one's own, the installed program and a folder named with
// --folder.
#include "app/core/Folders.h"

#include "CoreTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using coretest::TTempFolder;

TEST(ChooseFolders, FolderOptionWinsInstalledUsesUserFoldersAnyOtherKeepsFilesBesideTheProgram) {
    TTempFolder temp;
    const std::string root = temp.Path();
    const std::string build = root + "/build/bin";
    const std::string copy = root + "/copy";
    const std::string prefix = root + "/usr/bin";
    std::filesystem::create_directories(build);
    std::filesystem::create_directories(copy);
    std::filesystem::create_directories(prefix);
    // Windows gives links to folders to administrators only.
    std::error_code noLinks;
    std::filesystem::create_directory_symlink(prefix, root + "/linked-bin", noLinks);
    const std::string config = root + "/home/.config/tracer-interface";
    const std::string data = root + "/home/.local/share/tracer-interface";
    const std::string own = root + "/own";

    const struct {
        const char* Case;
        std::string Program;
        std::string Option;
        std::string Settings;
        std::string Data;
    } cases[] = {
        {"build tree", build, "", build, build},
        {"copy in a writable folder", copy, "", copy, copy},
        {"installed", prefix, "", config, data},
        {"installed, trailing slash", prefix + "/", "", config, data},
        {"installed, reached through a link", root + "/linked-bin", "", config, data},
        {"a folder beside the install folder", root + "/usr/bin2", "", root + "/usr/bin2", root + "/usr/bin2"},
        {"--folder from the build tree", build, own, own, own},
        {"--folder when installed", prefix, own, own, own},
    };
    for (const auto& c : cases) {
        if (noLinks && c.Program == root + "/linked-bin")
            continue;
        const TFolders folders = ChooseFolders({c.Program, prefix, c.Option, config, data});
        EXPECT_EQ(folders.SettingsFolder, c.Settings) << c.Case;
        EXPECT_EQ(folders.DataFolder, c.Data) << c.Case;
    }
    // Without a known install folder nothing counts as installed.
    EXPECT_EQ(ChooseFolders({prefix, "", "", config, data}).SettingsFolder, prefix);
}

TEST(InstalledUnder, AProgramInsideProgramFilesIsInstalledAnyOtherIsNot) {
    const std::vector<std::string> roots = {"C:\\Program Files", "C:\\Program Files (x86)", ""};
    const struct {
        const char* Program;
        bool Installed;
    } cases[] = {
        {"C:/Program Files/TracerInterface", true},
        {"c:\\program files\\TracerInterface\\", true},
        {"C:/Program Files (x86)/Lab/TracerInterface", true},
        {"C:/Program Files", false},              // the root itself holds no program
        {"C:/Program Files Extra/Tracer", false}, // a sibling that starts alike
        {"D:/Tools/TracerInterface", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InstalledUnder(c.Program, roots), c.Installed ? c.Program : "") << c.Program;
}
