// The line settings of a serial port in the terms of the classic serial interface: character
// format and flow-control values, the line events, the settings record and the timeouts record.
// The device layer and its platform files see only this, so they need no Qt header.
#pragma once

#include <cstdint>
#include <initializer_list>

enum TStopBits : uint8_t { sbOneStopBit = 0, sbOne5StopBits = 1, sbTwoStopBits = 2 };
enum TParityBits : uint8_t { prNone = 0, prOdd = 1, prEven = 2, prMark = 3, prSpace = 4 };
enum TDtrFlowControl : uint8_t { dtrDisable = 0, dtrEnable = 1, dtrHandshake = 2 };
enum TRtsFlowControl : uint8_t { rtsDisable = 0, rtsEnable = 1, rtsHandshake = 2, rtsToggle = 3 };
enum TSyncMethod : uint8_t { smSynchronize = 0, smWindow = 1, smNone = 2 };

enum TEvent : uint8_t {
    evRxChar = 0,
    evTxEmpty = 1,
    evRxFlag = 2,
    evRing = 3,
    evBreak = 4,
    evCTS = 5,
    evDSR = 6,
    evError = 7,
    evRLSD = 8,
    evRx80Full = 9
};

// A set of TEvent.
class TEvents {
public:
    constexpr TEvents() = default;
    constexpr TEvents(std::initializer_list<TEvent> Events) {
        for (TEvent e : Events)
            Include(e);
    }
    static constexpr TEvents All() {
        return {evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full};
    }
    constexpr bool Contains(TEvent Event) const { return (FBits & Bit(Event)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr void Include(TEvent Event) { FBits = static_cast<uint16_t>(FBits | Bit(Event)); }
    constexpr void Exclude(TEvent Event) { FBits = static_cast<uint16_t>(FBits & ~Bit(Event)); }
    constexpr bool operator==(const TEvents&) const = default;

private:
    static constexpr uint16_t Bit(TEvent Event) { return static_cast<uint16_t>(1u << Event); }
    uint16_t FBits = 0;
};

// Line-event flags, as reported by the event wait: the values of the classic serial interface.
// Where the system header that defines them as macros came first, its definitions (of the same
// values) serve.
#ifndef EV_RXCHAR
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
#endif

uint32_t EventFlag(TEvent Event);
uint32_t EventMask(TEvents Events);

// The line settings record, built from the port's properties by TComPort::BuildDCB and handed to
// the platform layer, which translates it for its own interface. The layout and values are those
// of the classic serial interface (one byte per flag here, for plain access).
struct TDCB {
    uint32_t DCBlength = 0; // 28, the size of the classic record
    uint32_t BaudRate = 0;
    uint8_t fBinary = 0;
    uint8_t fParity = 0;
    uint8_t fOutxCtsFlow = 0;
    uint8_t fOutxDsrFlow = 0;
    uint8_t fDtrControl = 0; // TDtrFlowControl
    uint8_t fDsrSensitivity = 0;
    uint8_t fTXContinueOnXoff = 0;
    uint8_t fOutX = 0;
    uint8_t fInX = 0;
    uint8_t fErrorChar = 0;
    uint8_t fNull = 0;
    uint8_t fRtsControl = 0; // TRtsFlowControl
    uint8_t fAbortOnError = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;   // TParityBits
    uint8_t StopBits = 0; // TStopBits
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
};

// The timeouts record: each value is the unsigned 32-bit pattern of the signed property
// (-1 becomes 0xFFFFFFFF).
struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};
