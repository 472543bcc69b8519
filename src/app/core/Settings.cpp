// The settings list of the process, its file and the readers of its keys.
#include "app/core/Settings.h"

#include "app/core/TextFile.h"
#include "common/Errors.h"
#include "common/Numbers.h"

#include <exception>

TRecordList& SettingsList() {
    static TRecordList list;
    return list;
}

bool LoadSettings(TRecordList& list, const std::string& fileName) {
    list.Clear();
    try {
        for (std::string& line : ReadLines(fileName))
            list.Add(std::move(line));
    } catch (const Exception&) {
        // A program that never ran has no file; every reader has its default.
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
