// Fuzz target: arbitrary bytes as a received packet. Only EOMAParseException may come out of
// the codec; whatever parses must render, answer and rebuild without fault.
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view packet(reinterpret_cast<const char*>(data), size);
    for (bool ignoreBadCrc : {false, true}) {
        TOMAMachine machine;
        machine.SetIgnoreBadCRC(ignoreBadCrc);
        try {
            machine.ParsePacket(packet);
        } catch (const EOMAParseException&) {
            continue;
        }
        (void)RenderControlChars(packet);
        (void)TraceFormatAnswer(machine);
        (void)ZFormatAnswer(machine);
        // Echo the received records as a reply: what is built must parse back, CRC checked, to
        // exactly the sorted reply lines in their escaped form.
        for (const std::string& line : machine.Received().Lines())
            machine.AddReplyLine(UnescapeText(line));
        const std::string rebuilt = machine.BuildPacket();
        std::vector<std::string> expected;
        const auto& reply = machine.Reply().Lines();
        for (std::size_t i = 0; i < reply.size(); ++i)
            if (!reply[i].empty() || i == 0)
                expected.push_back(EscapeText(reply[i]));
        expected.emplace_back(1, oma::RS);
        TOMAMachine back;
        back.ParsePacket(rebuilt); // throws, and so fails the run, on any framing or CRC fault
        if (back.Received().Lines() != expected)
            std::abort();
    }
    return 0;
}
