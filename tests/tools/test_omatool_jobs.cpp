// omatool on job trace files run as a process: measure and export of files written, as the
// program writes them, from job packets in each of the four trace encodings.
#include "Process.h"

#include "../export/ExportParse.h"
#include "Packets.h"
#include "app/core/JobFile.h"
#include "app/core/JobIntake.h"
#include "app/core/JobKeys.h"
#include "common/Json.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"
#include "trace/EyeShape.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace export_parse;

namespace {
TProcessResult Omatool(std::vector<std::string> args) {
    args.insert(args.begin(), OMATOOL_PATH);
    return RunProcess(args);
}

std::string ReadBytes(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A folder of its own for each test, removed afterwards.
class OmatoolJobs : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        Folder = std::filesystem::temp_directory_path() /
                 ("omatool-jobs-" + std::to_string(::getpid()) + "-" + std::to_string(GetParam()));
        std::filesystem::create_directories(Folder);
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }

    // The simulated tracer's job packet in the format of the test, taken in as the program takes it
    // (codec, trace decoding, the captured formats) and saved as its job trace file.
    std::string WriteJob(sim::TSimEyes eyes) {
        sim::TJobParams job;
        job.JobNumber = "815";
        job.DBL = 17.5;
        job.FrameType = 2;
        job.EdgeType = 3;
        job.Eyes = eyes;
        job.Format = GetParam();
        const sim::TJobShape shape = sim::MakeJobShape({sim::skEllipse, 52, 38, {}}, 400);
        TOMAMachine machine;
        machine.ParsePacket(FramePacket(sim::JobPacketLines(job, shape)));
        TEyeRec right, left;
        DecodeTraceBlocks(machine.Received(), right, left);
        TRecordList records = machine.Received();
        records.SetValue(jobkey::RtTrace, right.Radii);
        records.SetValue(jobkey::LtTrace, left.Radii);
        Rt = MakeEyeShape(right.Radii);
        Lt = MakeEyeShape(left.Radii);
        const TTraceFormats formats = CaptureTraceFormats(records);
        TJobFileInputs inputs;
        inputs.RtTraceFmt = formats.Rt;
        inputs.LtTraceFmt = formats.Lt;
        const std::string fileName = (Folder / "815.txt").string();
        SaveTraceFile(fileName, BuildTraceFileRecords(records, inputs));
        return fileName;
    }

    static std::string EyeJson(const TEyeShapePtr& eye, bool mirrored) {
        return json::Object()
            .Num("boxA", eye->BoxA())
            .Num("boxB", eye->BoxB())
            .Num("circumference", eye->Circumference())
            .Num("effectiveDiameter", eye->EffectiveDiameter())
            .Raw("mirrored", json::Bool(mirrored))
            .Str();
    }

    std::filesystem::path Folder;
    TEyeShapePtr Rt, Lt;
};

TEST_P(OmatoolJobs, MeasureGivesBothEyesOfTheFile) {
    const std::string file = WriteJob(sim::seBoth);
    ASSERT_TRUE(Rt && Lt);
    EXPECT_NEAR(Rt->BoxA(), 52, 0.05);
    auto r = Omatool({"measure", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              R"({"job":"815","dbl":17.5,"right":)" + EyeJson(Rt, false) + R"(,"left":)" + EyeJson(Lt, false) + "}\n");

    // A file with the right eye alone: the left is its mirror, and says so.
    const std::string single = WriteJob(sim::seRight);
    ASSERT_FALSE(Lt);
    r = Omatool({"measure", single});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(R"("left":{"boxA":)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"("mirrored":true})"), std::string::npos) << r.out;
}

TEST_P(OmatoolJobs, ExportWritesTheOutlinesAndTheSheet) {
    const std::string file = WriteJob(sim::seBoth);
    const std::string svg = (Folder / "815.svg").string();
    const std::string dxf = (Folder / "815.DXF").string();
    const std::string pdf = (Folder / "815.pdf").string();
    for (const std::string& out : {svg, dxf, pdf}) {
        const auto r = Omatool({"export", file, out});
        EXPECT_EQ(r.exitCode, 0) << out << ": " << r.out << r.err;
        EXPECT_EQ(r.out, json::Object().String("written", out).Str() + "\n");
    }
    const auto paths = SvgPaths(ReadBytes(svg));
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_NEAR(ExtentOf(paths.at("right")).Width(), Rt->BoxA(), 0.05);
    EXPECT_NEAR(ExtentOf(paths.at("left")).Left - ExtentOf(paths.at("right")).Right, 17.5, 0.05);
    const TDxf parsed = ParseDxf(ReadBytes(dxf));
    ASSERT_EQ(parsed.Polylines.size(), 2u);
    EXPECT_NEAR(ExtentOf(parsed.Polylines.at("LEFT")).Height(), Lt->BoxB(), 0.05);
    EXPECT_EQ(ReadBytes(pdf).rfind("%PDF-", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, OmatoolJobs, ::testing::Values(1, 2, 3, 4),
                         [](const auto& info) { return "Format" + std::to_string(info.param); });

TEST(OmatoolJobFiles, ExportAndMeasureRefuseWhatTheyCannotRead) {
    struct TCase {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Out;
    };
    const TCase cases[] = {
        {{"export", "job.txt"}, 2, ""},
        {{"export", "job.txt", "out.png"}, 2, ""},
        {{"export", "/nonexistent/job.txt", "out.svg"}, 1, "/nonexistent/job.txt"},
        {{"measure", "/nonexistent/job.txt"}, 1, "/nonexistent/job.txt"},
        {{"measure", "job.txt", "--box-a", "50"}, 2, ""},
        // A radii text stays one, even with characters that are no digits.
        {{"measure", "2500abcd"}, 1, "'abcd' is not a valid integer value"},
    };
    for (const TCase& c : cases) {
        const auto r = Omatool(c.Args);
        EXPECT_EQ(r.exitCode, c.ExitCode) << c.Args.back();
        EXPECT_NE(r.out.find(c.Out), std::string::npos) << r.out;
        if (c.ExitCode == 2) {
            EXPECT_FALSE(r.err.empty());
        }
    }
    // A file that holds no job.
    const std::string empty =
        (std::filesystem::temp_directory_path() / ("omatool-empty-" + std::to_string(::getpid()) + ".txt")).string();
    std::ofstream(empty) << "DBL=18\n";
    const auto r = Omatool({"measure", empty});
    std::filesystem::remove(empty);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("holds no job: it holds no trace"), std::string::npos) << r.out;
}
} // namespace
