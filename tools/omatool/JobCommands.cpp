// omatool commands on job trace files: export (SVG, DXF or the PDF job sheet) and the measures
// of both eyes.
#include "Commands.h"

#include "app/core/TextFile.h"
#include "common/Json.h"
#include "export/JobSheet.h"
#include "export/JobSheetPrint.h"

#include <QGuiApplication>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>

namespace {
std::string Extension(const std::string& fileName) {
    const auto slash = fileName.find_last_of("/\\");
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = fileName.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

void WriteText(const std::string& fileName, const std::string& text) {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) || !out.flush())
        throw std::runtime_error("cannot write " + fileName);
}

// The sheet's text is painted with the system's fonts, which need a GUI application; no window is
// ever shown, so no display is needed either.
std::unique_ptr<QGuiApplication> MakeGuiApplication() {
#ifndef _WIN32
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    static int argc = 1;
    static char name[] = "omatool";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

std::string EyeJson(const TEyeShapePtr& eye, bool mirrored) {
    if (!eye)
        return "null";
    return json::Object()
        .Num("boxA", eye->BoxA())
        .Num("boxB", eye->BoxB())
        .Num("circumference", eye->Circumference())
        .Num("effectiveDiameter", eye->EffectiveDiameter())
        .Raw("mirrored", json::Bool(mirrored))
        .Str();
}
} // namespace

bool NamesJobFile(const std::string& argument) {
    if (argument.find_first_not_of("0123456789 +-") == std::string::npos)
        return false;
    return FileExists(argument) || argument.find_first_of("./\\") != std::string::npos;
}

int CmdMeasureJob(const std::string& fileName) {
    const TJobSheet sheet = ReadJobSheet(fileName);
    std::cout << json::Object()
                     .String("job", sheet.JobNumber)
                     .Raw("dbl", sheet.DBL ? json::Number(*sheet.DBL) : "null")
                     .Raw("right", EyeJson(sheet.Rt, sheet.RtMirrored))
                     .Raw("left", EyeJson(sheet.Lt, sheet.LtMirrored))
                     .Str()
              << '\n';
    return 0;
}

int CmdExport(const TArgs& args) {
    if (args.size() != 2 || args[0].empty() || args[1].empty())
        return Usage("export: give a job trace file and an output file (.svg, .dxf or .pdf)");
    const std::string& in = args[0];
    const std::string& out = args[1];
    const std::string extension = Extension(out);
    if (extension != ".svg" && extension != ".dxf" && extension != ".pdf")
        return Usage("export: the output file must end in .svg, .dxf or .pdf: " + out);
    const TJobSheet sheet = ReadJobSheet(in);
    if (extension == ".svg") {
        WriteText(out, SvgOfJob(sheet));
    } else if (extension == ".dxf") {
        WriteText(out, DxfOfJob(sheet));
    } else {
        const auto app = MakeGuiApplication();
        QString error;
        if (!WriteJobSheetPdf(QString::fromStdString(out), sheet, &error))
            return Fail(error.toStdString());
    }
    std::cout << json::Object().String("written", out).Str() << '\n';
    return 0;
}
