// SerialPort: the object that owns one serial communications device.
//
// Every operation clears lastError, and stores and returns the code with
// which it ends: 0 success, 6 port not open, 1 an overlapped record or a
// finite time-out on a port opened without overlapped I/O, 1247 already
// open, 1460 a timed transfer that did not complete and was cancelled,
// 0x80070057 a mode outside the accepted set, otherwise the system layer's
// code for the platform's error, which system.h keeps apart from these.
// The getters and IsCtsOn return their value and leave the code in lastError.
#pragma once

#include <cstdint>

#include "serial/system.h"

namespace tarvo {

// What a port name says about a network port: a URL with a network
// scheme is opened as it stands when it is well formed; anything else is
// not a network name.
enum class NetworkName { NotNetwork, WellFormed, Malformed };
NetworkName ClassifyNetworkName(const char* name);

class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // The virtual operations, in their slot order.
  virtual ~SerialPort();
  virtual uint32_t Open(const char* name, uint32_t inQueue, uint32_t outQueue, uint8_t overlapped);
  virtual uint32_t Close();
  virtual uint32_t Configure(uint32_t baudRate, uint32_t byteSize, uint32_t parity,
                             uint32_t stopBits);
  virtual uint32_t SetLine(uint32_t baudRate, uint32_t byteSize, uint32_t parity,
                           uint32_t stopBits);
  virtual uint32_t SetEventChar(uint8_t eventChar, uint8_t watchEventChar);
  virtual uint32_t SetEventMask(uint32_t mask);
  virtual uint32_t WaitEvent(sys::IoRecord* overlapped, uint32_t timeoutMs);
  virtual uint32_t SetHandshake(uint32_t mode);
  virtual uint32_t SetReadTimeouts(uint32_t mode);
  virtual int GetBaudRate();
  virtual int GetByteSize();
  virtual int GetParity();
  virtual int GetStopBits();
  virtual int GetHandshake();
  virtual uint32_t GetEventMask();
  virtual uint8_t GetEventChar();
  virtual uint32_t WriteString(const char* text, uint32_t* written, sys::IoRecord* overlapped,
                               uint32_t timeoutMs);
  virtual uint32_t Write(const void* buffer, uint32_t count, uint32_t* written,
                         sys::IoRecord* overlapped, uint32_t timeoutMs);
  virtual uint32_t Read(void* buffer, uint32_t count, uint32_t* read, sys::IoRecord* overlapped,
                        uint32_t timeoutMs);

  uint32_t Purge();
  bool IsCtsOn();
  uint32_t SetRts();
  uint32_t SetDtr();
  uint32_t SetBreak();
  uint32_t ClearRts();
  uint32_t ClearDtr();
  uint32_t ClearBreak();

  bool IsOpen() const { return device != nullptr; }
  // Whether the open device heals a lost link by itself, reading as CTS
  // down until it has (a network port): it is not to be opened again
  // after a silence, and its line settings must be acknowledged.
  bool Heals() const { return device != nullptr && sys::DeviceHeals(device); }

  uint32_t lastError = 0;
  sys::Handle device = nullptr;
  uint32_t eventsSeen = 0;
  uint32_t eventMask = 0;
  sys::Handle ioEvent = nullptr;

 private:
  uint32_t Fail(uint32_t code) { return lastError = code; }
  uint32_t ReadDcb(sys::Dcb* dcb);
  int DcbGetter(int (*pick)(const sys::Dcb&));
  uint32_t Escape(sys::Escape code);
  uint32_t TimedTransfer(sys::Transfer kind, void* buffer, uint32_t count, uint32_t* done,
                         sys::IoRecord* overlapped, uint32_t timeoutMs);
};

}  // namespace tarvo
