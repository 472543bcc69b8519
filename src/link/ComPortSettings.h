// The setting groups of a serial port (parity, flow control, timeouts), each bound to its port, and
// the setter rule every property of the port follows.
#pragma once

#include "link/CommSettings.h"

#include <cstdint>

class TComPort;

namespace comport_detail {
// The setter rule of every property: an unchanged value does nothing at all; a changed one is
// stored first and then applied (which does nothing while the port is closed).
template <class T, class Apply> void ChangeSetting(T& field, const T& value, Apply apply) {
    if (field == value)
        return;
    field = value;
    apply();
}
} // namespace comport_detail

// Parity settings of a port; every change reapplies the line settings of the owning port.
class TParity {
public:
    explicit TParity(TComPort& ComPort) : FComPort(ComPort) {}
    TParity(const TParity&) = delete;
    TParity& operator=(const TParity&) = delete;

    TParityBits Bits() const { return FBits; }
    void SetBits(TParityBits Value);
    bool Check() const { return FCheck; }
    void SetCheck(bool Value);
    bool Replace() const { return FReplace; }
    void SetReplace(bool Value);
    uint8_t ReplaceChar() const { return FReplaceChar; }
    void SetReplaceChar(uint8_t Value);

private:
    TComPort& FComPort;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    uint8_t FReplaceChar = 0;
};

// Flow-control settings of a port; every change reapplies the line settings of the owning port.
class TFlowControl {
public:
    explicit TFlowControl(TComPort& ComPort) : FComPort(ComPort) {}
    TFlowControl(const TFlowControl&) = delete;
    TFlowControl& operator=(const TFlowControl&) = delete;

    bool OutCtsFlow() const { return FOutCtsFlow; }
    void SetOutCtsFlow(bool Value);
    bool OutDsrFlow() const { return FOutDsrFlow; }
    void SetOutDsrFlow(bool Value);
    TDtrFlowControl ControlDtr() const { return FControlDtr; }
    void SetControlDtr(TDtrFlowControl Value);
    TRtsFlowControl ControlRts() const { return FControlRts; }
    void SetControlRts(TRtsFlowControl Value);
    bool XonXoffOut() const { return FXonXoffOut; }
    void SetXonXoffOut(bool Value);
    bool XonXoffIn() const { return FXonXoffIn; }
    void SetXonXoffIn(bool Value);

private:
    TComPort& FComPort;
    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TDtrFlowControl FControlDtr = dtrDisable;
    TRtsFlowControl FControlRts = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
};

// Timeouts of a port in milliseconds (-1 meaning the largest unsigned value); every change
// reapplies the timeouts of the owning port. With the defaults a read returns at once with
// whatever has arrived, and a write of n bytes may take up to 100 * n + 1000 ms.
class TComTimeouts {
public:
    explicit TComTimeouts(TComPort& ComPort) : FComPort(ComPort) {}
    TComTimeouts(const TComTimeouts&) = delete;
    TComTimeouts& operator=(const TComTimeouts&) = delete;

    int32_t ReadInterval() const { return FReadInterval; }
    void SetReadInterval(int32_t Value);
    int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    void SetReadTotalMultiplier(int32_t Value);
    int32_t ReadTotalConstant() const { return FReadTotalConstant; }
    void SetReadTotalConstant(int32_t Value);
    int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    void SetWriteTotalMultiplier(int32_t Value);
    int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetWriteTotalConstant(int32_t Value);

private:
    TComPort& FComPort;
    int32_t FReadInterval = -1;
    int32_t FReadTotalMultiplier = 0;
    int32_t FReadTotalConstant = 0;
    int32_t FWriteTotalMultiplier = 100;
    int32_t FWriteTotalConstant = 1000;
};
