// The setting groups of the serial port and the records the port's properties make for the device:
// every change of a group reapplies its part of the line settings.
#include "link/ComPortSettings.h"

#include "link/Comms.h"

using comport_detail::ChangeSetting;

void TParity::SetBits(TParityBits Value) {
    ChangeSetting(FBits, Value, [this] { FComPort.ApplyDCB(); });
}

void TParity::SetCheck(bool Value) {
    ChangeSetting(FCheck, Value, [this] { FComPort.ApplyDCB(); });
}

void TParity::SetReplace(bool Value) {
    ChangeSetting(FReplace, Value, [this] { FComPort.ApplyDCB(); });
}

void TParity::SetReplaceChar(uint8_t Value) {
    ChangeSetting(FReplaceChar, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetOutCtsFlow(bool Value) {
    ChangeSetting(FOutCtsFlow, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetOutDsrFlow(bool Value) {
    ChangeSetting(FOutDsrFlow, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetControlDtr(TDtrFlowControl Value) {
    ChangeSetting(FControlDtr, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetControlRts(TRtsFlowControl Value) {
    ChangeSetting(FControlRts, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetXonXoffOut(bool Value) {
    ChangeSetting(FXonXoffOut, Value, [this] { FComPort.ApplyDCB(); });
}

void TFlowControl::SetXonXoffIn(bool Value) {
    ChangeSetting(FXonXoffIn, Value, [this] { FComPort.ApplyDCB(); });
}

void TComTimeouts::SetReadInterval(int32_t Value) {
    ChangeSetting(FReadInterval, Value, [this] { FComPort.ApplyTimeouts(); });
}

void TComTimeouts::SetReadTotalMultiplier(int32_t Value) {
    ChangeSetting(FReadTotalMultiplier, Value, [this] { FComPort.ApplyTimeouts(); });
}

void TComTimeouts::SetReadTotalConstant(int32_t Value) {
    ChangeSetting(FReadTotalConstant, Value, [this] { FComPort.ApplyTimeouts(); });
}

void TComTimeouts::SetWriteTotalMultiplier(int32_t Value) {
    ChangeSetting(FWriteTotalMultiplier, Value, [this] { FComPort.ApplyTimeouts(); });
}

void TComTimeouts::SetWriteTotalConstant(int32_t Value) {
    ChangeSetting(FWriteTotalConstant, Value, [this] { FComPort.ApplyTimeouts(); });
}

TDCB TComPort::BuildDCB() const {
    TDCB dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = static_cast<uint32_t>(FBaudRate);
    dcb.fBinary = 1;
    dcb.fParity = FParity.Check() ? 1 : 0;
    dcb.fOutxCtsFlow = FFlowControl.OutCtsFlow() ? 1 : 0;
    dcb.fOutxDsrFlow = FFlowControl.OutDsrFlow() ? 1 : 0;
    dcb.fDtrControl = FFlowControl.ControlDtr();
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = FFlowControl.XonXoffOut() ? 1 : 0;
    dcb.fInX = FFlowControl.XonXoffIn() ? 1 : 0;
    dcb.fErrorChar = FParity.Replace() ? 1 : 0;
    dcb.fNull = FDiscardNull ? 1 : 0;
    dcb.fRtsControl = FFlowControl.ControlRts();
    dcb.fAbortOnError = 0;
    dcb.XonLim = static_cast<uint16_t>((FReadBufSize / 4) & 0xFFFF);
    dcb.XoffLim = dcb.XonLim;
    // A value outside a byte must not wrap into a valid size; 0 is refused by the line.
    dcb.ByteSize = (FDataBits >= 0 && FDataBits <= 255) ? static_cast<uint8_t>(FDataBits) : 0;
    dcb.Parity = FParity.Bits();
    dcb.StopBits = FStopBits;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = FParity.Replace() ? FParity.ReplaceChar() : 0;
    dcb.EofChar = 0;
    dcb.EvtChar = FEventChar;
    return dcb;
}

TCommTimeouts TComPort::BuildTimeouts() const {
    TCommTimeouts t;
    t.ReadIntervalTimeout = static_cast<uint32_t>(FTimeouts.ReadInterval());
    t.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts.ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts.ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts.WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts.WriteTotalConstant());
    return t;
}
