#include "serial/serial_port.h"

#include <cstring>

#include "serial/rfc2217.h"

namespace tarvo {

namespace {
constexpr uint32_t kWatchedEvents = sys::kEvRxChar | sys::kEvBreak | sys::kEvErr;  // 0xC1

// The flag groups the handshake modes set and clear.
constexpr uint32_t kFlowWatch = sys::kFlagOutxCtsFlow | sys::kFlagOutxDsrFlow;
constexpr uint32_t kXonXoff = sys::kFlagOutX | sys::kFlagInX;
constexpr uint32_t kDtrRtsControl = sys::kFlagDtrControlMask | sys::kFlagRtsControlMask;

// Read time-out modes: 0 returns at once with what has arrived; 1 waits for
// the count, or 30 ms of silence after a byte.
constexpr sys::CommTimeouts kReadModes[2] = {
    {0xFFFFFFFFu, 0, 0, 0, 0},
    {30, 3600000, 100, 0, 0},
};
}  // namespace

SerialPort::~SerialPort() { SerialPort::Close(); }

uint32_t SerialPort::Open(const char* name, uint32_t inQueue, uint32_t outQueue,
                          uint8_t overlapped) {
  lastError = 0;
  if (device != nullptr) return Fail(sys::kErrorAlreadyInitialized);
  sys::Handle opened = nullptr;
  if (uint32_t code = sys::OpenDevice(name, overlapped != 0, &opened)) return Fail(code);
  device = opened;
  if (overlapped != 0) {
    if (uint32_t code = sys::CreateIoEvent(&ioEvent)) {
      sys::CloseDevice(device);
      device = nullptr;
      ioEvent = nullptr;
      return Fail(code);
    }
  }
  if (inQueue != 0 || outQueue != 0) {
    if (uint32_t code = sys::SetupQueues(device, inQueue, outQueue)) {
      Close();
      return Fail(code);
    }
  }
  // A failure to set the mask alone is not reported; the device stays open.
  SetEventMask(kWatchedEvents);
  SetReadTimeouts(1);
  return lastError;
}

uint32_t SerialPort::Close() {
  lastError = 0;
  if (device == nullptr) return 0;
  if (ioEvent != nullptr) {
    sys::CloseIoEvent(ioEvent);
    ioEvent = nullptr;
  }
  sys::CloseDevice(device);
  device = nullptr;
  return 0;
}

uint32_t SerialPort::Configure(uint32_t baudRate, uint32_t byteSize, uint32_t parity,
                               uint32_t stopBits) {
  lastError = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);
  return Fail(SetLine(baudRate, byteSize, parity, stopBits));
}

uint32_t SerialPort::ReadDcb(sys::Dcb* dcb) {
  std::memset(dcb, 0, sizeof *dcb);
  dcb->length = sizeof *dcb;
  return sys::GetLineSettings(device, dcb);
}

uint32_t SerialPort::SetLine(uint32_t baudRate, uint32_t byteSize, uint32_t parity,
                             uint32_t stopBits) {
  lastError = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);
  sys::Dcb dcb;
  if (uint32_t code = ReadDcb(&dcb)) return Fail(code);
  dcb.baudRate = baudRate;
  dcb.byteSize = static_cast<uint8_t>(byteSize);
  dcb.parity = static_cast<uint8_t>(parity);
  dcb.stopBits = static_cast<uint8_t>(stopBits);
  if (parity != 0) {
    dcb.flags |= sys::kFlagParity;
  } else {
    dcb.flags &= ~sys::kFlagParity;
  }
  return Fail(sys::SetLineSettings(device, &dcb));
}

uint32_t SerialPort::SetEventChar(uint8_t eventChar, uint8_t watchEventChar) {
  lastError = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);
  sys::Dcb dcb;
  if (uint32_t code = ReadDcb(&dcb)) return Fail(code);
  dcb.evtChar = static_cast<char>(eventChar);
  // Turning the watch off does not remove EV_RXFLAG from the mask.
  if (watchEventChar != 0) SetEventMask(GetEventMask() | sys::kEvRxFlag);
  const uint32_t maskCode = lastError;
  if (uint32_t code = sys::SetLineSettings(device, &dcb)) return Fail(code);
  return Fail(maskCode);
}

uint32_t SerialPort::SetEventMask(uint32_t mask) {
  lastError = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);
  if (uint32_t code = sys::SetEventMask(device, mask)) return Fail(code);
  eventMask = mask;
  return 0;
}

uint32_t SerialPort::WaitEvent(sys::IoRecord* overlapped, uint32_t timeoutMs) {
  return TimedTransfer(sys::Transfer::WaitEvent, &eventsSeen, sizeof eventsSeen, nullptr,
                       overlapped, timeoutMs);
}

uint32_t SerialPort::SetHandshake(uint32_t mode) {
  lastError = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);
  sys::Dcb dcb;
  if (uint32_t code = ReadDcb(&dcb)) return Fail(code);
  switch (mode) {
    case 0:  // none
      dcb.flags &= ~(kFlowWatch | kXonXoff | kDtrRtsControl);
      break;
    case 1:  // hardware: CTS/DSR watched, DTR and RTS handshake
      dcb.flags =
          (dcb.flags & ~(sys::kFlagRtsControlEnable | kXonXoff | sys::kFlagDtrControlEnable)) |
          sys::kFlagRtsControlHandshake | sys::kFlagDtrControlHandshake | kFlowWatch;
      break;
    case 2:  // XON/XOFF
      dcb.flags = (dcb.flags & ~(kFlowWatch | kDtrRtsControl)) | kXonXoff;
      break;
    default: return Fail(sys::kInvalidArg);
  }
  return Fail(sys::SetLineSettings(device, &dcb));
}

uint32_t SerialPort::SetReadTimeouts(uint32_t mode) {
  lastError = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);
  sys::CommTimeouts timeouts{};
  if (uint32_t code = sys::GetTimeouts(device, &timeouts)) return Fail(code);
  // The mode is checked only once the device's time-outs were read.
  if (mode > 1) return Fail(sys::kInvalidArg);
  timeouts.readIntervalTimeout = kReadModes[mode].readIntervalTimeout;
  timeouts.readTotalTimeoutMultiplier = kReadModes[mode].readTotalTimeoutMultiplier;
  timeouts.readTotalTimeoutConstant = kReadModes[mode].readTotalTimeoutConstant;
  return Fail(sys::SetTimeouts(device, &timeouts));
}

int SerialPort::DcbGetter(int (*pick)(const sys::Dcb&)) {
  lastError = 0;
  if (device == nullptr) {
    lastError = sys::kErrorInvalidHandle;
    return -1;
  }
  sys::Dcb dcb;
  if (uint32_t code = ReadDcb(&dcb)) {
    lastError = code;
    return -1;
  }
  return pick(dcb);
}

int SerialPort::GetBaudRate() {
  return DcbGetter([](const sys::Dcb& d) { return static_cast<int>(d.baudRate); });
}

int SerialPort::GetByteSize() {
  return DcbGetter([](const sys::Dcb& d) { return static_cast<int>(d.byteSize); });
}

int SerialPort::GetParity() {
  return DcbGetter([](const sys::Dcb& d) {
    return (d.flags & sys::kFlagParity) ? static_cast<int>(d.parity) : 0;
  });
}

int SerialPort::GetStopBits() {
  return DcbGetter([](const sys::Dcb& d) { return static_cast<int>(d.stopBits); });
}

int SerialPort::GetHandshake() {
  return DcbGetter([](const sys::Dcb& d) {
    const bool dtrHandshake = (d.flags & sys::kFlagDtrControlMask) == sys::kFlagDtrControlHandshake;
    const bool rtsHandshake = (d.flags & sys::kFlagRtsControlMask) == sys::kFlagRtsControlHandshake;
    if (dtrHandshake && rtsHandshake) return 1;
    if ((d.flags & sys::kFlagOutX) && (d.flags & sys::kFlagInX)) return 2;
    return 0;
  });
}

uint32_t SerialPort::GetEventMask() {
  lastError = 0;
  if (device == nullptr) {
    lastError = sys::kErrorInvalidHandle;
    return 0;
  }
  return eventMask;
}

uint8_t SerialPort::GetEventChar() {
  const int c = DcbGetter(
      [](const sys::Dcb& d) { return static_cast<int>(static_cast<uint8_t>(d.evtChar)); });
  return c < 0 ? 0 : static_cast<uint8_t>(c);
}

uint32_t SerialPort::WriteString(const char* text, uint32_t* written, sys::IoRecord* overlapped,
                                 uint32_t timeoutMs) {
  return Write(text, static_cast<uint32_t>(std::strlen(text)), written, overlapped, timeoutMs);
}

uint32_t SerialPort::Write(const void* buffer, uint32_t count, uint32_t* written,
                           sys::IoRecord* overlapped, uint32_t timeoutMs) {
  return TimedTransfer(sys::Transfer::Write, const_cast<void*>(buffer), count, written, overlapped,
                       timeoutMs);
}

uint32_t SerialPort::Read(void* buffer, uint32_t count, uint32_t* read, sys::IoRecord* overlapped,
                          uint32_t timeoutMs) {
  return TimedTransfer(sys::Transfer::Read, buffer, count, read, overlapped, timeoutMs);
}

// The one procedure behind Write, Read and WaitEvent.
uint32_t SerialPort::TimedTransfer(sys::Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                                   sys::IoRecord* overlapped, uint32_t timeoutMs) {
  lastError = 0;
  uint32_t privateCount = 0;
  if (done == nullptr) done = &privateCount;
  *done = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);

  if (ioEvent == nullptr) {
    if (overlapped != nullptr || timeoutMs != sys::kInfinite)
      return Fail(sys::kErrorInvalidFunction);
    return Fail(sys::TransferNow(device, kind, buffer, count, done));
  }

  // A read of the driver's own is one call where the layer reads with a
  // deadline directly.
  if (kind == sys::Transfer::Read && overlapped == nullptr) {
    const uint32_t code = sys::ReadWithin(device, buffer, count, done, timeoutMs);
    if (code != sys::kErrorIoPending) {
      return Fail(code == sys::kWaitTimeout ? sys::kErrorTimeout : code);
    }
  }

  sys::IoRecord privateRecord;
  std::memset(&privateRecord, 0, sizeof privateRecord);
  privateRecord.event = ioEvent;
  sys::IoRecord* record = overlapped != nullptr ? overlapped : &privateRecord;

  const uint32_t started = sys::StartTransfer(device, kind, buffer, count, done, record);
  if (started == 0) {
    sys::SignalIoEvent(record->event);
    return 0;
  }
  if (started != sys::kErrorIoPending) return Fail(started);
  if (record != &privateRecord) return 0;  // completing it is the caller's business

  const uint32_t waited = sys::WaitTransfer(device, record, timeoutMs);
  if (waited == 0) {
    if (kind == sys::Transfer::WaitEvent) return 0;
    return Fail(sys::FinishTransfer(device, record, done));
  }
  // Timed out or the wait itself failed: the transfer must not outlive the
  // private record, so it is cancelled either way.
  sys::CancelTransfer(device, record);
  return Fail(waited == sys::kWaitTimeout ? sys::kErrorTimeout : waited);
}

uint32_t SerialPort::Purge() {
  lastError = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);
  return Fail(sys::PurgeQueues(device, sys::kPurgeTxClear | sys::kPurgeRxClear));
}

bool SerialPort::IsCtsOn() {
  lastError = 0;
  // The port is not checked first: on a closed port the platform call fails.
  uint32_t status = 0;
  if (uint32_t code = sys::GetModemStatus(device, &status)) {
    lastError = code;
    return false;
  }
  return (status & sys::kMsCtsOn) != 0;
}

uint32_t SerialPort::Escape(sys::Escape code) {
  lastError = 0;
  if (device == nullptr) return Fail(sys::kErrorInvalidHandle);
  return Fail(sys::EscapeFunction(device, code));
}

uint32_t SerialPort::SetRts() { return Escape(sys::Escape::SetRts); }
uint32_t SerialPort::SetDtr() { return Escape(sys::Escape::SetDtr); }
uint32_t SerialPort::SetBreak() { return Escape(sys::Escape::SetBreak); }
uint32_t SerialPort::ClearRts() { return Escape(sys::Escape::ClrRts); }
uint32_t SerialPort::ClearDtr() { return Escape(sys::Escape::ClrDtr); }
uint32_t SerialPort::ClearBreak() { return Escape(sys::Escape::ClrBreak); }

NetworkName ClassifyNetworkName(const char* name) {
  if (!rfc2217::HasScheme(name)) return NetworkName::NotNetwork;
  rfc2217::Url url;
  return rfc2217::ParseUrl(name, &url) ? NetworkName::WellFormed : NetworkName::Malformed;
}

}  // namespace tarvo
