// Fuzz target: settings.txt with any bytes. The file is loaded as the program loads it, every
// setting is read with its default, and the list written back reads as the same list.
#include "app/core/Settings.h"
#include "app/core/TextFile.h"

#include "FuzzCheck.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {
// One memory file for the whole run, reached by its /proc name: the loader reads a real file
// without the disk in the loop.
int SettingsFile() {
    static const int fd = memfd_create("settings.txt", 0);
    return fd;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = SettingsFile();
    if (fd < 0 || ftruncate(fd, 0) != 0)
        return 0;
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    const std::string name = "/proc/self/fd/" + std::to_string(fd);

    TRecordList list;
    FUZZ_CHECK(LoadSettings(list, name));
    FUZZ_CHECK(list.Lines() == SplitLines(std::string_view(reinterpret_cast<const char*>(data), size)));

    (void)SettingInt(list, setting::BaudRate, setting::DefaultBaudRate);
    (void)SettingInt(list, setting::BackColor, setting::DefaultBackColor);
    (void)SettingInt(list, setting::TraceColor, setting::DefaultTraceColor);
    (void)SettingYes(list, setting::AllowMod);
    (void)SettingYes(list, setting::DontAskCloseProgram);
    (void)list.Value(setting::TracerCOMPort);

    // A setting changed and saved, then loaded again, is the same list.
    list.SetValue(setting::BaudRate, "19200");
    FUZZ_CHECK(SettingInt(list, setting::BaudRate, 0) == 19200);
    FUZZ_CHECK(SplitLines(JoinLinesCRLF(list)) == list.Lines());
    return 0;
}
