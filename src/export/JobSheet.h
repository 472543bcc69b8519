// The exports of a job without a window: the job's content for a printed sheet, both eyes laid
// out at true size, and the eye outlines as SVG and DXF for CAD programs and pattern cutters.
//
// Orientation. The radii of both eyes share one frame of reference: x to the right and y up as
// the frame is seen from the front, so the right eye's nasal side is at +x and the left eye's at
// −x (a right trace mirrored about the vertical axis is the matching left trace, and the fitted
// trace panel draws the right trace unmirrored on the left). Every drawing here therefore shows
// the frame from the front: the right eye on the left, both outlines unmirrored, the nasal box
// edges DBL apart and the box centres on one horizontal line.
#pragma once

#include "common/RecordList.h"
#include "trace/EyeShape.h"

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a job sheet shows of one job.
struct TJobSheet {
    std::string JobNumber;
    std::string Date;          // as shown, "2026-12-11 10:31"
    std::optional<double> DBL; // millimetres; none when the job has no DBL
    std::string FrameType;     // the frame list's caption ("Metal"); empty when none
    std::string EdgeType;      // the edge list's caption ("Groove"); empty when none
    TEyeShapePtr Rt;           // null when that eye has no trace
    TEyeShapePtr Lt;
    // An eye without a trace of its own is drawn as the mirror of the other, as the trace panel
    // does; these say so, so that the sheet can say so too.
    bool RtMirrored = false;
    bool LtMirrored = false;
};

// The captions of the frame list ("1".."3") and the edge list ("-1", "1".."4") for an FTYP or
// ETYP value; empty for a value with no item.
std::string FrameTypeCaption(std::string_view key);
std::string EdgeTypeCaption(std::string_view key);

// The sheet of a job trace file's lines: the trace blocks as the window opens them, DBL (full
// stop or comma), FTYP and ETYP; an eye without a trace becomes the mirror of the other. The job
// number and the date are the caller's (a file carries its job number in its name). Raises the
// geometry's error when a trace cannot be measured.
TJobSheet JobSheetFromRecords(const TRecordList& fileRecords, std::string jobNumber, std::string date);

// Reads a job trace file: JobSheetFromRecords of its lines, the job number from its name and the
// date of its last change in local time. Raises EInOutError when the file cannot be read and
// Exception("<file> holds no trace") when it is no job trace file.
TJobSheet ReadJobSheet(const std::string& fileName);

// A date as the sheet shows it, "YYYY-MM-DD HH:MM" in local time.
std::string SheetDate(std::time_t when);

// One eye placed in the pair, in millimetres: x to the right, y up, origin midway between the
// two nasal box edges on the line through the box centres.
struct TPlacedEye {
    char Eye = 'R'; // 'R' or 'L'
    std::vector<TOutlinePoint> Outline;
    double Left = 0, Right = 0, Bottom = 0, Top = 0; // the eye's box
    TEyeShapePtr Shape;
};

struct TEyePair {
    std::vector<TPlacedEye> Eyes;                    // right then left; empty when neither eye has a trace
    double Left = 0, Right = 0, Bottom = 0, Top = 0; // the box around both boxes
    double Width() const { return Right - Left; }
    double Height() const { return Top - Bottom; }
};

// Both eyes at true size, the gap DBL (0 without one) between the nasal box edges. A sheet with
// one eye shows it alone, centred on the origin.
TEyePair LayOutEyes(const TJobSheet& sheet);

// The two outlines as an SVG document: width and height in mm and a viewBox in millimetres
// (1 user unit = 1 mm, y down as SVG has it), a closed path per eye and nothing else.
std::string SvgOfJob(const TJobSheet& sheet);

// The two outlines as an ASCII DXF (R12): drawing units millimetres ($INSUNITS 4), one closed
// POLYLINE per eye on the layers RIGHT and LEFT, y up as the pair is laid out.
std::string DxfOfJob(const TJobSheet& sheet);

// Where the printed sheet puts its parts on a page, in millimetres from the page's top-left
// corner, y down. The painter only draws what this returns.
struct TSheetRect {
    double X = 0, Y = 0, Width = 0, Height = 0;
};

struct TJobSheetLayout {
    TSheetRect Text;    // the heading and the table of measures
    TSheetRect Drawing; // the box around both eyes' boxes as drawn
    double Scale = 1;   // drawn millimetres per millimetre of the frame: 1 unless it cannot fit
    TSheetRect Bar;     // the calibration bar, Bar.Width = kCalibrationBarMm
    double Margin = 0;
};

inline constexpr double kCalibrationBarMm = 50;

// The layout on a page of pageWidth x pageHeight mm. A pair too wide for the page is drawn
// smaller (Scale < 1), and the sheet then says it is not at true size.
TJobSheetLayout LayOutJobSheet(const TJobSheet& sheet, double pageWidth, double pageHeight);

// The lines of the table of measures, one per row: a caption then the right and left eye's
// values (or one value for a row of the job), numbers with two decimals.
std::vector<std::vector<std::string>> JobSheetTable(const TJobSheet& sheet);
