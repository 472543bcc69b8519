// Reading the exported outlines back as a CAD program would: the points of each SVG path and
// of each DXF polyline, in millimetres, and their extents.
#pragma once

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace export_parse {

struct TPoint {
    double X = 0;
    double Y = 0;
};

struct TExtent {
    double Left = 1e9, Right = -1e9, Bottom = 1e9, Top = -1e9;
    double Width() const { return Right - Left; }
    double Height() const { return Top - Bottom; }
};

inline TExtent ExtentOf(const std::vector<TPoint>& points) {
    TExtent e;
    for (const TPoint& p : points) {
        e.Left = std::min(e.Left, p.X);
        e.Right = std::max(e.Right, p.X);
        e.Bottom = std::min(e.Bottom, p.Y);
        e.Top = std::max(e.Top, p.Y);
    }
    return e;
}

// The value of attribute `name` of the first element that has it after `from`.
inline std::string Attribute(const std::string& text, const std::string& name, std::size_t from = 0) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = text.find(key, from);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size();
    return text.substr(start, text.find('"', start) - start);
}

// The points of every <path> by its id, y turned up again. Only M, L and Z occur.
inline std::map<std::string, std::vector<TPoint>> SvgPaths(const std::string& svg, bool* closed = nullptr) {
    std::map<std::string, std::vector<TPoint>> paths;
    if (closed)
        *closed = true;
    for (std::size_t at = svg.find("<path"); at != std::string::npos; at = svg.find("<path", at + 1)) {
        std::string d = Attribute(svg, "d", at);
        if (closed && (d.empty() || d.back() != 'Z'))
            *closed = false;
        for (char& c : d)
            if (c == 'M' || c == 'L' || c == 'Z')
                c = ' ';
        std::istringstream in(d);
        std::vector<TPoint>& points = paths[Attribute(svg, "id", at)];
        TPoint p;
        while (in >> p.X >> p.Y) {
            p.Y = -p.Y;
            points.push_back(p);
        }
    }
    return paths;
}

struct TDxf {
    std::map<std::string, std::vector<TPoint>> Polylines; // by layer
    std::map<std::string, int> Flags;                     // group 70 of each polyline
    std::map<std::string, std::string> Header;            // $NAME -> its first value
};

inline TDxf ParseDxf(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::pair<int, std::string>> groups;
    std::string code, value;
    while (std::getline(in, code) && std::getline(in, value))
        groups.emplace_back(std::stoi(code), value);
    TDxf dxf;
    std::string entity, layer, headerName;
    TPoint vertex;
    for (const auto& [c, v] : groups) {
        if (c == 9) {
            headerName = v;
            continue;
        }
        if (!headerName.empty() && c != 0) {
            dxf.Header.emplace(headerName, v);
            headerName.clear();
        }
        if (c == 0) {
            if (entity == "VERTEX")
                dxf.Polylines[layer].push_back(vertex);
            entity = v;
        } else if (c == 8) {
            layer = v;
        } else if (c == 70 && entity == "POLYLINE") {
            dxf.Flags[layer] = std::stoi(v);
        } else if (c == 10 && entity == "VERTEX") {
            vertex.X = std::stod(v);
        } else if (c == 20 && entity == "VERTEX") {
            vertex.Y = std::stod(v);
        }
    }
    return dxf;
}

} // namespace export_parse
