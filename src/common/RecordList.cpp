// Record list operations.
#include "common/RecordList.h"

#include <cstring>
#include <stdexcept>

std::string_view TRecordList::LabelOfLine(std::string_view line) {
    const auto eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

std::ptrdiff_t TRecordList::IndexOf(std::string_view label) const {
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        const std::string& line = FLines[i];
        // The label is followed by '=': check that byte first, it rejects most lines cheaply.
        if (line.size() > label.size() && line[label.size()] == '=' &&
            SameTextAscii(std::string_view(line).substr(0, label.size()), label) &&
            std::memchr(line.data(), '=', label.size()) == nullptr)
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

std::string TRecordList::Value(std::string_view label) const {
    const auto index = IndexOf(label);
    if (index < 0)
        return {};
    const std::string& line = FLines[static_cast<std::size_t>(index)];
    return line.substr(label.size() + 1);
}

void TRecordList::SetValue(std::string_view label, std::string_view value) {
    const auto index = IndexOf(label);
    if (value.empty()) {
        if (index >= 0)
            FLines.erase(FLines.begin() + index);
        return;
    }
    std::string line;
    line.reserve(label.size() + 1 + value.size());
    line.append(label).append(1, '=').append(value);
    if (index >= 0)
        FLines[static_cast<std::size_t>(index)] = std::move(line);
    else
        FLines.push_back(std::move(line));
}

void TRecordList::Delete(std::size_t index) {
    if (index >= FLines.size())
        throw std::out_of_range("record index out of range");
    FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(index));
}

void TRecordList::Reorder(const std::vector<std::size_t>& order) {
    if (order.size() != FLines.size())
        throw std::invalid_argument("reorder needs one index per line");
    std::vector<std::string> lines;
    lines.reserve(FLines.size());
    for (std::size_t index : order)
        lines.push_back(std::move(FLines.at(index)));
    FLines = std::move(lines);
}
