// Job intake without a screen: raw packet text to record lines, the vendor pattern, the capture of
// the trace formats and the cleaning of the job number.
#pragma once

#include "common/RecordList.h"

#include <string>
#include <string_view>

// Jobs are taken in only from a tracer whose VEN record reads exactly this.
inline constexpr std::string_view kJobVendor = "TAKUBO";

// Characters 32..127 build the current line; CR and LF end it (an empty line is not added);
// every other character is dropped; a non-empty last line is added.
TRecordList PacketToRecords(std::string_view packet);

// The regular expression "^VEN\s*=\s*(\S+)$" in multi-line mode over the lines joined with CR LF
// (letter case significant). On a match `vendor` becomes the first group of the first match and
// true is returned; otherwise `vendor` is untouched.
bool FindVendor(const TRecordList& lines, std::string& vendor);

// The captured formats: the text after the first "=" (at most 99 characters) of the last
// "TRCFMT=" line (first seven characters after trimming the line's ends) containing "E;R;",
// and likewise "E;L;" for the left eye. A line containing both counts for the right eye.
struct TTraceFormats {
    std::string Rt;
    std::string Lt;
};
TTraceFormats CaptureTraceFormats(const TRecordList& job);

// Removes characters from the front while the first is not "1".."9", then from the end while the
// last is not "0".."9". "000123A" -> "123", "A0012B" -> "12", "0000" -> "".
std::string CleanJobDigits(std::string_view job);
