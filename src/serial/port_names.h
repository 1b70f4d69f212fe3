// How a port name reaches a device: the one rule that IniciaDriver, the
// system layers and the tools share.
//
// - A network port's URL (rfc2217://HOST:PORT[?ignorects]) is used whole.
// - A name that holds "/dev/" anywhere is used whole.
// - Any other name must have, as its fourth character, a digit 0 to 8 (the
//   first three characters are not examined); the device is "COM" followed
//   by that digit and every digit right after it, so COM15 reaches port 15
//   and XYZ5 reaches COM5. COM9, COMU, COM and "ab" are refused.
// - Every device name, the zero included, fits 40 bytes: a longer one is
//   refused, never cut.
// Where the platform has no COM devices, the registry file's Ports map
// (section kPortsSection) names the device of a COM name; a COM name with
// no entry there reaches /dev/ttyS(n-1), and COM0 reaches nothing.
#pragma once

#include <cstddef>
#include <string_view>

#include "tarvo.h"

namespace tarvo {

constexpr size_t kPortNameSize = TARVO_MAX_PORT_NAME + 1;
constexpr size_t kMaxPortName = kPortNameSize - 1;
// The port map: the key under HKEY_LOCAL_MACHINE, and the same key as a
// section of the registry file.
constexpr const char* kPortsKey = "SOFTWARE\\TARVO\\Ports";
constexpr const char* kPortsSection = "HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports";
static_assert(std::string_view(kPortsSection).ends_with(kPortsKey), "one key, two spellings");
constexpr const char* kSettingsKey = "BelmoraPOS\\ImpressoraFiscal";
constexpr const char* kSettingsSection = "HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal";
// The driver reads CommSettings into this many bytes, its terminator
// included: a longer value cannot be read, and the line runs at 115200.
constexpr size_t kCommSettingsRoom = 20;
// The facade's scan (a port name whose fourth character is U or u) tries
// COM7 to COM22 in turn.
constexpr int kFirstScanPort = 7;
constexpr int kLastScanPort = 22;

enum class PortName {
  Network,  // an rfc2217:// URL, used whole
  Device,   // holds "/dev/", used whole
  Com,      // "COM" and the digits from the fourth character on
  Refused,  // IniciaDriver's "Erro[canal]": not a name the driver takes
};

// The device IniciaDriver opens for `name`, into device[kPortNameSize].
// Refused also for a malformed URL or a name longer than kMaxPortName.
PortName ChoosePortDevice(const char* name, char (&device)[kPortNameSize]);

// Why ChoosePortDevice refuses a name, in a few words ("" when it does not).
const char* RefusalReason(const char* name);

// The number of a "COM" + digits device name; false for anything else.
bool ComNumber(const char* device, unsigned* number);

enum class PortMapResult { Mapped, Default, NoDevice, TooLong };

// The device of a COM device name on a platform without COM devices: the
// Ports map of a registry text (null or malformed text: no map), else
// /dev/ttyS(n-1). The map is asked for the canonical name (COM5 for
// COM05) first, then for the name as given.
PortMapResult MapComDevice(const char* regText, size_t regLength, const char* device, char* path,
                           size_t cap);

}  // namespace tarvo
