// The settings list of the process, its file and the readers of its keys.
#include "app/core/Settings.h"

#include "app/core/TextFile.h"
#include "common/Errors.h"
#include "common/Numbers.h"

#include <exception>
#include <string_view>

namespace {
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
} // namespace

TRecordList& SettingsList() {
    static TRecordList list;
    return list;
}

bool LoadSettings(TRecordList& list, const std::string& fileName, std::string* problem) {
    list.Clear();
    if (problem)
        problem->clear();
    try {
        std::string text = ReadWholeFile(fileName);
        // An editor that saves UTF-8 with a byte-order mark would otherwise hide the first key.
        if (text.starts_with(kUtf8ByteOrderMark))
            text.erase(0, kUtf8ByteOrderMark.size());
        for (std::string& line : SplitLines(text))
            list.Add(std::move(line));
    } catch (const std::exception& failure) {
        // A program that never ran has no file; every reader has its default. Nothing found in
        // the file (not a file, too large, out of memory) may keep the program from starting.
        list.Clear();
        if (problem && FileExists(fileName))
            *problem = failure.what();
        return false;
    } catch (...) {
        list.Clear();
        if (problem && FileExists(fileName))
            *problem = "Cannot read " + fileName;
        return false;
    }
    return true;
}

bool SaveSettings(const TRecordList& list, const std::string& fileName, std::string* error) {
    try {
        WriteFileAtomically(fileName, JoinLinesCRLF(list));
    } catch (const std::exception& failure) {
        if (error)
            *error = failure.what();
        return false;
    }
    return true;
}

int32_t SettingInt(const TRecordList& list, std::string_view key, int32_t fallback) {
    int32_t value = 0;
    return TryStrToInt(list.Value(key), value) ? value : fallback;
}

bool SettingYes(const TRecordList& list, std::string_view key) {
    return list.Value(key) == "Y";
}
