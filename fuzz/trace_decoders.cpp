// Fuzz target: the trace decoders and the block walk. The first byte picks a decoder and a point
// count; the rest is the record text. Each byte format must decode exactly as its slow reference
// does. Then the whole input, split into lines, is walked as the records of a packet. Only
// EOMAParseException may come out of the walk.
#include "FuzzCheck.h"
#include "TraceReference.h"
#include "protocol/TraceFormats.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const unsigned pick = data[0];
    TWidthCheck check;
    std::string decoded;
    // The byte formats against their slow reference: the same text and the same first value
    // without a four-character form.
    std::vector<int64_t> reference;
    int64_t lowestNarrow = 0;
    switch (pick % 4) {
    case 0:
        decoded = DecodeAsciiValues(text, &check);
        break;
    case 1:
        decoded = DecodeBinaryAbsolute(text, &check);
        reference = trace_reference::Format2Values(text);
        FUZZ_CHECK(decoded == trace_reference::UnsignedText(reference));
        break;
    case 2:
        decoded = DecodeBinaryDifferential(text, &check);
        reference = trace_reference::Format3Values(text);
        lowestNarrow = -999;
        FUZZ_CHECK(decoded == trace_reference::SignedText(reference));
        break;
    default: {
        const std::size_t count = (pick / 4) * 67; // up to 4221, past the largest count
        decoded = DecodePackedBinary(text, count, &check);
        if (count > kMaxPackedPoints) {
            FUZZ_CHECK(decoded.empty() && !check.Overflow);
            break;
        }
        reference = trace_reference::Format4Values(text, count);
        FUZZ_CHECK(decoded == trace_reference::UnsignedText(reference));
    }
    }
    if (pick % 4 != 0) {
        const std::string firstWide = trace_reference::FirstWideValue(reference, lowestNarrow);
        FUZZ_CHECK(check.Overflow == !firstWide.empty());
        FUZZ_CHECK(check.FirstValue == firstWide);
    }
    const std::vector<std::string> fields = SplitFields(text);
    if (pick % 4 == 0) {
        // Format 1 has a one-pass path for plain digit fields; it must give what the general
        // field split gives: each field, padded on the left to four characters.
        std::string expected;
        for (const std::string& field : fields) {
            if (field.size() < 4)
                expected.append(4 - field.size(), '0');
            expected += field;
        }
        FUZZ_CHECK(decoded == expected);
    }

    TRecordList records;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == '\n') {
            records.Add(std::string(text.substr(start, i - start)));
            start = i + 1;
        }
    TEyeRec right, left;
    try {
        DecodeTraceBlocks(records, right, left);
        // Accepted radii are always whole four-character groups: short fields are padded and
        // wide values refused.
        FUZZ_CHECK(right.Radii.size() % 4 == 0 && left.Radii.size() % 4 == 0);
    } catch (const EOMAParseException&) {
    }
    (void)FormatAnswer(records, "TRCFMT", 4096);
    return 0;
}
