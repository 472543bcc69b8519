// Tests of the settings store: reading any line end, keeping foreign lines in place, writing
// CR LF, and the readers' defaults.
#include "app/core/Settings.h"

#include "CoreTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using coretest::ReadBytes;
using coretest::TTempFolder;
using coretest::WriteBytes;

TEST(Settings, ARunKeepsForeignLinesInPlaceAndWritesCRLF) {
    TTempFolder folder;
    const std::string file = folder / kSettingsFileName;
    WriteBytes(file, "; operator's note\rtracercomport=COM1\nBaudRate=abc\r\n\r\nColour=red=dark\nAllowMod=Y");

    TRecordList list;
    ASSERT_TRUE(LoadSettings(list, file));
    EXPECT_EQ(list.Count(), 6u);
    EXPECT_EQ(list.Value(setting::TracerCOMPort), "COM1"); // found whatever the case of its name
    EXPECT_EQ(list.Value("Colour"), "red=dark");
    EXPECT_EQ(SettingInt(list, setting::BaudRate, setting::DefaultBaudRate), 9600);
    EXPECT_TRUE(SettingYes(list, setting::AllowMod));

    list.SetValue(setting::TracerCOMPort, "/dev/ttyUSB0");
    list.SetValue(setting::BaudRate, "");
    list.SetValue(setting::DontAskCloseProgram, "Y");
    std::string error = "untouched";
    ASSERT_TRUE(SaveSettings(list, file, &error));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(ReadBytes(file), "; operator's note\r\nTracerCOMPort=/dev/ttyUSB0\r\n\r\nColour=red=dark\r\n"
                               "AllowMod=Y\r\nDontAskCloseProgram=Y\r\n");
}

TEST(Settings, MissingFileEmptiesTheListAndFailedSaveKeepsTheOldFile) {
    TTempFolder folder;
    TRecordList list;
    list.Add("Stale=1");
    EXPECT_FALSE(LoadSettings(list, folder / "none.txt"));
    EXPECT_TRUE(list.Empty());

    list.SetValue(setting::AllowMod, "Y");
    std::string error;
    EXPECT_FALSE(SaveSettings(list, folder / "missing/settings.txt", &error));
    EXPECT_NE(error.find(coretest::Shown(folder / "missing/settings.txt") + ": "), std::string::npos) << error;
    EXPECT_FALSE(SaveSettings(list, folder / "missing/settings.txt"));

    // A settings file replaced by a folder cannot be overwritten; nothing is thrown.
    ASSERT_TRUE(std::filesystem::create_directory(folder / "settings.txt"));
    EXPECT_FALSE(SaveSettings(list, folder / "settings.txt", &error));
}

TEST(Settings, ByteOrderMarkIsSkipped) {
    TTempFolder folder;
    const std::string file = folder / kSettingsFileName;
    WriteBytes(file, "\xEF\xBB\xBFTracerCOMPort=COM3\r\nBaudRate=19200\r\n");
    TRecordList list;
    ASSERT_TRUE(LoadSettings(list, file));
    EXPECT_EQ(list.Value(setting::TracerCOMPort), "COM3");
    EXPECT_EQ(list.Line(0), "TracerCOMPort=COM3");
}

// Whatever stands at the settings file's name, loading neither waits nor throws: the program starts
// with its defaults.
TEST(Settings, UnusableFileLoadsNothingWithoutWaitingOrThrowing) {
    TTempFolder folder;
    std::vector<std::string> names = {folder / "huge.txt"};
    WriteBytes(names[0], "AllowMod=Y\r\n");
    std::filesystem::resize_file(names[0], (8u << 20) + 1);
#ifndef _WIN32
    names.push_back(folder / "zero.txt");
    std::filesystem::create_symlink("/dev/zero", names.back());
    names.push_back(folder / "fifo.txt");
    ASSERT_EQ(::mkfifo(names.back().c_str(), 0600), 0);
#endif
    for (const std::string& name : names) {
        TRecordList list;
        list.Add("Stale=1");
        std::string problem;
        EXPECT_FALSE(LoadSettings(list, name, &problem)) << name;
        EXPECT_TRUE(list.Empty()) << name;
        // Said with the file's name and the reason; a file that is not there yet is no problem.
        EXPECT_EQ(problem.rfind("Cannot read " + coretest::Shown(name) + ": ", 0), 0u) << problem;
    }
    TRecordList list;
    std::string problem = "stale";
    EXPECT_FALSE(LoadSettings(list, folder / "none.txt", &problem));
    EXPECT_EQ(problem, "");
}

TEST(Settings, ReadersFallBackToTheirDefaults) {
    const struct {
        const char* Line;
        int32_t Int;
        bool Yes;
    } cases[] = {
        {"", -7, false},
        {"K=", -7, false},
        {"K=19200", 19200, false},
        {"K= 42", 42, false},
        {"K=42 ", -7, false},
        {"K=16776960", 16776960, false},
        {"K=99999999999", -7, false},
        {"K=Y", -7, true},
        {"k=Y", -7, true},
        {"K=y", -7, false},
        {"K=Yes", -7, false},
        {"K=N", -7, false},
    };
    for (const auto& c : cases) {
        TRecordList list;
        list.Add(c.Line);
        EXPECT_EQ(SettingInt(list, "K", -7), c.Int) << c.Line;
        EXPECT_EQ(SettingYes(list, "K"), c.Yes) << c.Line;
    }
}
