// The settings store: the process-wide settings list, its file settings.txt, and the readers of
// its keys with their defaults. Integer settings are converted when they are read, never when the
// file is loaded; each reader falls back to its own default.
#pragma once

#include "common/RecordList.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace setting {
inline constexpr std::string_view TracerCOMPort = "TracerCOMPort";
inline constexpr std::string_view BaudRate = "BaudRate";
inline constexpr std::string_view BackColor = "BackColor";
inline constexpr std::string_view TraceColor = "TraceColor";
inline constexpr std::string_view AllowMod = "AllowMod";
inline constexpr std::string_view DontAskCloseProgram = "DontAskCloseProgram";
// The tracer's link: "Serial" (also when missing) or "TCP"; for TCP the port to listen on, or,
// with a host, the host and port to connect to.
inline constexpr std::string_view TracerPortType = "TracerPortType";
inline constexpr std::string_view TracerTCPPort = "TracerTCPPort";
inline constexpr std::string_view TracerTCPHost = "TracerTCPHost";
inline constexpr std::string_view PortTypeSerial = "Serial";
inline constexpr std::string_view PortTypeTCP = "TCP";
// The vendor the tracer last named: a tracer that stays on while the program restarts sends its
// next job without naming itself again.
inline constexpr std::string_view TracerVendor = "TracerVendor";

inline constexpr int32_t DefaultBaudRate = 9600;
inline constexpr int32_t DefaultBackColor = 16776960;  // aqua, 0x00BBGGRR
inline constexpr int32_t DefaultTraceColor = 16777215; // white
} // namespace setting

inline constexpr const char* kSettingsFileName = "settings.txt";

// The one settings list of the process (empty until LoadSettings).
TRecordList& SettingsList();

// Replaces the list's content by the file's lines (CR, LF or CR LF); a UTF-8 byte-order mark at
// the start is skipped. A missing or unreadable file, or one that is no regular file or too large
// (ReadWholeFile), leaves the list empty and returns false, and never throws. Only when something
// stands at the name but was not read does `problem` (when given) get the reason; a file that is
// not there yet is no problem.
bool LoadSettings(TRecordList& list, const std::string& fileName, std::string* problem = nullptr);
// Writes every line with CR LF, atomically. Returns false on failure (the old file stays); the
// reason goes to `error` when given.
bool SaveSettings(const TRecordList& list, const std::string& fileName, std::string* error = nullptr);

// The setting converted to an integer, or `fallback` when missing or not an integer.
int32_t SettingInt(const TRecordList& list, std::string_view key, int32_t fallback);
// True only for the exact upper-case "Y".
bool SettingYes(const TRecordList& list, std::string_view key);
