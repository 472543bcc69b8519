// Fuzz target: the shape operations of the job panel with arbitrary numbers, as an operator can
// type them (any double, NaN and infinities included) on arbitrary base traces. Only the system's
// own exceptions (a refused rescale, a trace that cannot be measured) may come out.
//
// Input: byte 0 picks the operation (bits 0-1) and Lock B (bit 2); bytes 1-8 are the wanted value
// as the bits of a double; the rest is the right base trace, then after the first '|' the left.
#include "app/core/ShapeEdit.h"
#include "common/Errors.h"

#include "FuzzCheck.h"
#include <cmath>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {
// A changed trace keeps the point count of its base and is made of digit groups; characters
// after the last whole group may stay as they were.
bool DigitGroups(const std::string& trace, const std::string& base) {
    if (trace == base)
        return true;
    const std::size_t digits = base.size() / 4 * 4;
    if (trace.size() < digits || trace.size() > base.size())
        return false;
    for (std::size_t i = 0; i < digits; ++i)
        if (trace[i] < '0' || trace[i] > '9')
            return false;
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9)
        return 0;
    const TShapeOp ops[] = {TShapeOp::BoxA, TShapeOp::BoxB, TShapeOp::Circumference, TShapeOp::BoxA};
    const TShapeOp op = ops[data[0] & 3];
    const bool lockB = (data[0] & 4) != 0;
    double wanted = 0;
    std::memcpy(&wanted, data + 1, sizeof wanted);
    const std::string_view rest(reinterpret_cast<const char*>(data + 9), size - 9);
    const std::size_t bar = rest.find('|');
    const std::string rt(rest.substr(0, bar));
    const std::string lt(bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1));

    try {
        const TShapeEditResult result = RescaleJob(MakeEyeShape(rt), MakeEyeShape(lt), op, wanted, lockB);
        const std::string rtTrace = result.Rt ? result.Rt->Radii() : std::string();
        const std::string ltTrace = result.Lt ? result.Lt->Radii() : std::string();
        FUZZ_CHECK(rtTrace.empty() == rt.empty() || rt.size() < 4);
        FUZZ_CHECK(ltTrace.empty() == lt.empty() || lt.size() < 4);
        FUZZ_CHECK(rt.empty() || DigitGroups(rtTrace, rt));
        FUZZ_CHECK(lt.empty() || DigitGroups(ltTrace, lt));
    } catch (const Exception&) {
    }
    return 0;
}
