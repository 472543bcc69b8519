// The record list: an ordered list of text lines LABEL=value with case-insensitive lookup.
// Packets, device records, job records, settings and job trace files are all record lists.
#pragma once

#include "common/Text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TRecordList {
public:
    std::size_t Count() const { return FLines.size(); }
    bool Empty() const { return FLines.empty(); }
    const std::string& Line(std::size_t index) const { return FLines.at(index); }
    const std::vector<std::string>& Lines() const { return FLines; }

    // The text before the first '=' of a line; empty for a line without '='.
    static std::string_view LabelOfLine(std::string_view line);
    std::string_view Label(std::size_t index) const { return LabelOfLine(FLines.at(index)); }

    // Index of the first line whose label equals `label` ignoring ASCII letter case; -1 when none.
    // A line without '=' is never found.
    std::ptrdiff_t IndexOf(std::string_view label) const;

    // The value of the first line with this label (everything after its first '='), or empty.
    std::string Value(std::string_view label) const;

    // An empty value removes the first line with this label; otherwise that line is replaced in
    // place by label=value (spelled as given here), or label=value is appended.
    void SetValue(std::string_view label, std::string_view value);

    void Add(std::string line) { FLines.push_back(std::move(line)); }
    void Delete(std::size_t index);
    void Clear() { FLines.clear(); }
    void Assign(const TRecordList& other) { FLines = other.FLines; }
    // Puts the lines in the given order: order[k] is the index of the line that goes to place k.
    void Reorder(const std::vector<std::size_t>& order);

    bool operator==(const TRecordList&) const = default;

private:
    std::vector<std::string> FLines;
};
