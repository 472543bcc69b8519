// Byte-string helpers every layer needs: comparing labels and names without regard to ASCII letter
// case, and cutting a text into lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// ASCII letter case is ignored; other bytes compare as they are.
bool SameTextAscii(std::string_view a, std::string_view b);
// `text` begins with `prefix`, ASCII letter case ignored.
bool StartsWithTextAscii(std::string_view text, std::string_view prefix);

// CR, LF and CR LF each end a line; a line end at the very end of the text makes no empty line.
// Empty lines inside the text are kept.
std::vector<std::string> SplitLines(std::string_view text);
