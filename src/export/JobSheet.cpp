// The job sheet's content, the pair of eyes at true size and the SVG and DXF writers.
#include "export/JobSheet.h"

#include "app/core/JobKeys.h"
#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"
#include "common/Errors.h"
#include "common/Numbers.h"
#include "trace/TrceCalc.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <utility>

namespace {
struct TCaption {
    std::string_view Key;
    std::string_view Caption;
};

// The items of the window's frame and edge lists.
constexpr std::array kFrameTypes{TCaption{"1", "Plastic"}, TCaption{"2", "Metal"}, TCaption{"3", "Rimless"}};
constexpr std::array kEdgeTypes{TCaption{"-1", "Uncut"}, TCaption{"1", "Bevel"}, TCaption{"2", "Rimless"},
                                TCaption{"3", "Groove"}, TCaption{"4", "Mini-Bevel"}};

template <std::size_t N> std::string CaptionOf(const std::array<TCaption, N>& items, std::string_view key) {
    key = Trim(key);
    for (const TCaption& item : items)
        if (item.Key == key)
            return std::string(item.Caption);
    return {};
}

TEyeShapePtr MirrorOf(const TEyeShapePtr& shape) {
    TTraceCalc calc;
    calc.SetTrace(shape->Radii());
    return MakeEyeShape(calc.MirroredTrace());
}

TPlacedEye Place(char eye, const TEyeShapePtr& shape, double dx, double dy) {
    TPlacedEye placed;
    placed.Eye = eye;
    placed.Shape = shape;
    placed.Outline.reserve(shape->Outline().size());
    for (const TOutlinePoint& p : shape->Outline())
        placed.Outline.push_back({p.X + dx, p.Y + dy});
    placed.Left = shape->Left() + dx;
    placed.Right = shape->Right() + dx;
    placed.Bottom = shape->Bottom() + dy;
    placed.Top = shape->Top() + dy;
    return placed;
}

// Coordinates in files that other programs read: a full stop and no "-0.000".
std::string Coordinate(double mm) {
    std::string text = FormatFixedPoint(mm, 3);
    if (text == "-0.000")
        text = "0.000";
    return text;
}

// A sheet laid out with room around the outlines, so that a stroke is not cut at the edge.
constexpr double kFileMargin = 2;
} // namespace

std::string FrameTypeCaption(std::string_view key) {
    return CaptionOf(kFrameTypes, key);
}

std::string EdgeTypeCaption(std::string_view key) {
    return CaptionOf(kEdgeTypes, key);
}

TJobSheet JobSheetFromRecords(const TRecordList& fileRecords, std::string jobNumber, std::string date) {
    TJobSheet sheet;
    sheet.JobNumber = std::move(jobNumber);
    sheet.Date = std::move(date);
    double dbl = 0;
    if (TryStrToFloatPointOrComma(fileRecords.Value(jobkey::DBL), dbl) && dbl >= 0)
        sheet.DBL = dbl;
    sheet.FrameType = FrameTypeCaption(fileRecords.Value(jobkey::FrameType));
    sheet.EdgeType = EdgeTypeCaption(fileRecords.Value(jobkey::EdgeType));

    const TImportedTraces traces = ParseTraceFileLines(fileRecords.Lines());
    sheet.Rt = MakeEyeShape(traces.Rt);
    sheet.Lt = MakeEyeShape(traces.Lt);
    if (sheet.Rt && sheet.Rt->Empty())
        sheet.Rt = nullptr;
    if (sheet.Lt && sheet.Lt->Empty())
        sheet.Lt = nullptr;
    if (sheet.Rt && !sheet.Lt) {
        sheet.Lt = MirrorOf(sheet.Rt);
        sheet.LtMirrored = true;
    } else if (sheet.Lt && !sheet.Rt) {
        sheet.Rt = MirrorOf(sheet.Lt);
        sheet.RtMirrored = true;
    }
    return sheet;
}

std::string SheetDate(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return std::string(text, length);
}

TJobSheet ReadJobSheet(const std::string& fileName) {
    const std::vector<std::string> lines = ReadLines(fileName);
    if (const std::string problem = UnusableTraceFile(lines); !problem.empty())
        throw Exception(fileName + " holds no job: " + problem);
    TRecordList records;
    for (const std::string& line : lines)
        records.Add(line);

    // File names are UTF-8 on every system; the path is built from them as such.
    const std::filesystem::path path(std::u8string(reinterpret_cast<const char8_t*>(fileName.data()), fileName.size()));
    std::string date;
    std::error_code error;
    const std::filesystem::file_time_type changed = std::filesystem::last_write_time(path, error);
    if (!error) {
        const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            changed - std::filesystem::file_time_type::clock::now() + std::chrono::system_clock::now());
        date = SheetDate(std::chrono::system_clock::to_time_t(system));
    }
    return JobSheetFromRecords(records, JobNumberFromFileName(fileName), date);
}

TEyePair LayOutEyes(const TJobSheet& sheet) {
    TEyePair pair;
    const double gap = sheet.DBL.value_or(0);
    if (sheet.Rt && sheet.Lt) {
        pair.Eyes.push_back(Place('R', sheet.Rt, -gap / 2 - sheet.Rt->Right(), -sheet.Rt->BoxCentreY()));
        pair.Eyes.push_back(Place('L', sheet.Lt, gap / 2 - sheet.Lt->Left(), -sheet.Lt->BoxCentreY()));
    } else if (sheet.Rt || sheet.Lt) {
        const TEyeShapePtr& shape = sheet.Rt ? sheet.Rt : sheet.Lt;
        pair.Eyes.push_back(Place(sheet.Rt ? 'R' : 'L', shape, -shape->BoxCentreX(), -shape->BoxCentreY()));
    } else {
        return pair;
    }
    pair.Left = pair.Eyes.front().Left;
    pair.Right = pair.Eyes.front().Right;
    pair.Bottom = pair.Eyes.front().Bottom;
    pair.Top = pair.Eyes.front().Top;
    for (const TPlacedEye& eye : pair.Eyes) {
        pair.Left = std::min(pair.Left, eye.Left);
        pair.Right = std::max(pair.Right, eye.Right);
        pair.Bottom = std::min(pair.Bottom, eye.Bottom);
        pair.Top = std::max(pair.Top, eye.Top);
    }
    return pair;
}

std::string SvgOfJob(const TJobSheet& sheet) {
    const TEyePair pair = LayOutEyes(sheet);
    // SVG's y runs down: the pair's y is negated, so the top of the frame stays on top.
    const double left = pair.Left - kFileMargin;
    const double top = -pair.Top - kFileMargin;
    const std::string width = Coordinate(pair.Width() + 2 * kFileMargin);
    const std::string height = Coordinate(pair.Height() + 2 * kFileMargin);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
                      width + "mm\" height=\"" + height + "mm\" viewBox=\"" + Coordinate(left) + " " + Coordinate(top) +
                      " " + width + " " + height + "\">\n";
    for (const TPlacedEye& eye : pair.Eyes) {
        svg += std::string("  <path id=\"") + (eye.Eye == 'R' ? "right" : "left") +
               "\" fill=\"none\" stroke=\"black\" stroke-width=\"0.1\" d=\"";
        bool first = true;
        for (const TOutlinePoint& p : eye.Outline) {
            svg += first ? "M" : " L";
            svg += Coordinate(p.X) + " " + Coordinate(-p.Y);
            first = false;
        }
        svg += " Z\"/>\n";
    }
    svg += "</svg>\n";
    return svg;
}

std::string DxfOfJob(const TJobSheet& sheet) {
    const TEyePair pair = LayOutEyes(sheet);
    std::string dxf;
    const auto group = [&dxf](int code, const std::string& value) {
        dxf += std::to_string(code) + "\n" + value + "\n";
    };
    group(0, "SECTION");
    group(2, "HEADER");
    group(9, "$ACADVER");
    group(1, "AC1009");
    group(9, "$INSUNITS");
    group(70, "4");
    group(9, "$MEASUREMENT");
    group(70, "1");
    group(9, "$EXTMIN");
    group(10, Coordinate(pair.Left));
    group(20, Coordinate(pair.Bottom));
    group(9, "$EXTMAX");
    group(10, Coordinate(pair.Right));
    group(20, Coordinate(pair.Top));
    group(0, "ENDSEC");

    group(0, "SECTION");
    group(2, "TABLES");
    group(0, "TABLE");
    group(2, "LAYER");
    group(70, std::to_string(pair.Eyes.size()));
    for (const TPlacedEye& eye : pair.Eyes) {
        group(0, "LAYER");
        group(2, eye.Eye == 'R' ? "RIGHT" : "LEFT");
        group(70, "0");
        group(62, "7");
        group(6, "CONTINUOUS");
    }
    group(0, "ENDTAB");
    group(0, "ENDSEC");

    group(0, "SECTION");
    group(2, "ENTITIES");
    for (const TPlacedEye& eye : pair.Eyes) {
        const std::string layer = eye.Eye == 'R' ? "RIGHT" : "LEFT";
        group(0, "POLYLINE");
        group(8, layer);
        group(66, "1");
        group(10, "0.0");
        group(20, "0.0");
        group(30, "0.0");
        group(70, "1"); // closed
        for (const TOutlinePoint& p : eye.Outline) {
            group(0, "VERTEX");
            group(8, layer);
            group(10, Coordinate(p.X));
            group(20, Coordinate(p.Y));
            group(30, "0.0");
        }
        group(0, "SEQEND");
        group(8, layer);
    }
    group(0, "ENDSEC");
    group(0, "EOF");
    return dxf;
}

TJobSheetLayout LayOutJobSheet(const TJobSheet& sheet, double pageWidth, double pageHeight) {
    constexpr double kMargin = 15;
    constexpr double kTextHeight = 85;   // heading, date and up to ten rows of the table
    constexpr double kGap = 12;          // between the text and the drawing, room for the eye letters
    constexpr double kBelowDrawing = 16; // room for the DBL's dimension line and its value
    constexpr double kBarHeight = 5;
    constexpr double kBarSpace = kBarHeight + 10; // the bar and its caption
    TJobSheetLayout layout;
    layout.Margin = kMargin;
    const double width = pageWidth - 2 * kMargin;
    layout.Text = {kMargin, kMargin, width, kTextHeight};

    const TEyePair pair = LayOutEyes(sheet);
    const double drawingTop = kMargin + kTextHeight + kGap;
    const double roomHeight = pageHeight - kMargin - kBarSpace - kBelowDrawing - drawingTop;
    layout.Scale = 1;
    if (pair.Width() > width)
        layout.Scale = std::min(layout.Scale, width / pair.Width());
    if (pair.Height() > roomHeight && roomHeight > 0)
        layout.Scale = std::min(layout.Scale, roomHeight / pair.Height());
    const double drawnWidth = pair.Width() * layout.Scale;
    const double drawnHeight = pair.Height() * layout.Scale;
    layout.Drawing = {(pageWidth - drawnWidth) / 2, drawingTop, drawnWidth, drawnHeight};
    layout.Bar = {kMargin, drawingTop + drawnHeight + kBelowDrawing, kCalibrationBarMm, kBarHeight};
    return layout;
}

std::vector<std::vector<std::string>> JobSheetTable(const TJobSheet& sheet) {
    const auto measure = [](const TEyeShapePtr& eye, double (TEyeShape::*value)() const) {
        return eye ? FormatFixed(((*eye).*value)(), 2) + " mm" : std::string("-");
    };
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"", "Right", "Left"});
    rows.push_back({"Box A", measure(sheet.Rt, &TEyeShape::BoxA), measure(sheet.Lt, &TEyeShape::BoxA)});
    rows.push_back({"Box B", measure(sheet.Rt, &TEyeShape::BoxB), measure(sheet.Lt, &TEyeShape::BoxB)});
    rows.push_back(
        {"Circumference", measure(sheet.Rt, &TEyeShape::Circumference), measure(sheet.Lt, &TEyeShape::Circumference)});
    rows.push_back({"Effective diameter", measure(sheet.Rt, &TEyeShape::EffectiveDiameter),
                    measure(sheet.Lt, &TEyeShape::EffectiveDiameter)});
    if (sheet.RtMirrored || sheet.LtMirrored)
        rows.push_back(
            {"Trace", sheet.RtMirrored ? "mirror of left" : "traced", sheet.LtMirrored ? "mirror of right" : "traced"});
    rows.push_back({"DBL", sheet.DBL ? FormatFixed(*sheet.DBL, 2) + " mm" : std::string("none")});
    rows.push_back({"Frame", sheet.FrameType.empty() ? std::string("-") : sheet.FrameType});
    rows.push_back({"Edge", sheet.EdgeType.empty() ? std::string("-") : sheet.EdgeType});
    return rows;
}
