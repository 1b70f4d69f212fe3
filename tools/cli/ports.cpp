#include "cli/ports.h"

#include <algorithm>
#include <cstdio>

#include "cli/cli.h"
#include "common/json.h"
#include "common/options.h"
#include "platform/host.h"
#include "serial/reg_file.h"
#include "serial/rfc2217.h"

namespace tarvo::cli {

std::vector<PortInfo> ListPorts(const PortRoots& roots) {
  std::vector<PortInfo> ports;
  for (auto& found : platform::ListSystemPorts(roots.sys, roots.dev)) {
    PortInfo p;
    static_cast<platform::SystemPort&>(p) = std::move(found);
    ports.push_back(std::move(p));
  }
  return ports;
}

namespace {

std::string StateOf(const std::string& device) {
  if (rfc2217::HasScheme(device.c_str())) return "network port (tarvo why tries it)";
  return platform::DeviceState(device);
}

// A mapped device names a port by its /dev name or by one of its by-id links.
bool Reaches(const PortInfo& p, const std::string& device) {
  return device == p.device || std::find(p.byId.begin(), p.byId.end(), device) != p.byId.end();
}

}  // namespace

void MarkMappings(const RegistryFile& reg, std::vector<PortInfo>* ports) {
  for (int n = 0; n <= 255; ++n) {
    const std::string com = "COM" + std::to_string(n);
    Resolved r;
    std::string why;
    if (n > 0 && (com.size() < 4 || com[3] > '8')) continue;  // names IniciaDriver refuses
    if (!ResolvePort(com, reg, &r, &why) || r.source == MapSource::None) continue;
    for (auto& p : *ports) {
      if (!Reaches(p, r.device)) continue;
      (r.source == MapSource::Registry ? p.mappedAs : p.defaultAs).push_back(com);
      if (n >= kFirstScanPort && n <= kLastScanPort) p.scannedAs.push_back(com);
    }
  }
}

namespace {

bool HasControl(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

// A .reg string's contents: the backslash and the double quote escaped.
std::string RegQuoted(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// What is at a mapped device now.

}  // namespace

std::vector<Mapping> RegistryMappings(const RegistryFile& reg) {
  std::vector<Mapping> out;
  if (!reg.Usable()) return out;
  static char names[256][256];
  const size_t n = regfile::ValueNames(reg.text.data(), reg.text.size(), kPortsSection, names, 256);
  for (size_t i = 0; i < n; ++i) {
    Mapping m;
    m.name = names[i];
    RegistryString(reg, kPortsSection, m.name, &m.device);
    char device[kPortNameSize];
    if (ChoosePortDevice(m.name.c_str(), device) != PortName::Com) {
      m.state = std::string("never used: ") + RefusalReason(m.name.c_str()) +
                " (names such as COM9 or COM90 are refused: use COM10 to COM89 for more ports)";
    } else if (platform::HasComDevices() && !rfc2217::HasScheme(m.device.c_str())) {
      m.state =
          "ignored: here the Ports map sends a COM name only to a network port "
          "(rfc2217://HOST:PORT); " +
          m.name + " opens Windows' own " + m.name;
    } else {
      m.state = StateOf(m.device);
    }
    out.push_back(m);
  }
  return out;
}

namespace {

// Where COM names are the system's own, the map only adds network ports:
// a line for the first COM name of the scan that is neither mapped nor a
// port of this machine, to be completed with the server's address.
std::string RegAddLine(const std::vector<PortInfo>& ports, int next) {
  const std::string com = "COM" + std::to_string(next);
  for (const auto& p : ports) {
    if (p.name == com) return "";
  }
  std::string key = kPortsSection;
  key.replace(0, std::string("HKEY_LOCAL_MACHINE").size(), "HKLM");
  return "reg add \"" + key + "\" /v " + com + " /t REG_SZ /d \"rfc2217://HOST:PORT\" /f\n";
}

}  // namespace

std::string SuggestedPortsLines(const RegistryFile& reg, const std::vector<PortInfo>& ports) {
  std::string lines;
  int next = kFirstScanPort;
  auto used = [&](int n) {
    std::string v;
    return RegistryString(reg, kPortsSection, "COM" + std::to_string(n), &v);
  };
  if (platform::HasComDevices()) {
    for (; next <= kLastScanPort; ++next) {
      lines = used(next) ? "" : RegAddLine(ports, next);
      if (!lines.empty()) return lines;
    }
    return lines;
  }
  for (const auto& p : ports) {
    if (!p.mappedAs.empty() || !p.defaultAs.empty() || p.subsystem == "platform") continue;
    while (next <= kLastScanPort && used(next)) ++next;
    if (next > kLastScanPort) break;
    // A .reg string can't hold a control character: such a link is not
    // offered, the kernel's name is.
    const bool clean = !p.byId.empty() && !HasControl(p.byId.front());
    const std::string& device = clean ? p.byId.front() : p.device;
    if (HasControl(device)) continue;
    lines += "\"COM" + std::to_string(next++) + "\"=\"" + RegQuoted(device) + "\"\n";
  }
  return lines.empty() ? lines : "[" + std::string(kPortsSection) + "]\n" + lines;
}

namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& i : items) out += (out.empty() ? "" : " ") + i;
  return out;
}

std::string RegistryState(const RegistryFile& reg) {
  if (!reg.present) return reg.path + " (missing: " + reg.readError + ")";
  if (reg.badLine != 0) {
    return reg.path + " (malformed at line " + std::to_string(reg.badLine) +
           ": its Ports map is not used)";
  }
  return reg.path;
}

std::string Describe(const PortInfo& p) {
  std::string d;
  if (!p.friendlyName.empty()) d += " \"" + p.friendlyName + "\"";
  if (!p.vid.empty()) d += " USB " + p.vid + ":" + p.pid;
  if (!p.manufacturer.empty()) d += " " + p.manufacturer;
  if (!p.product.empty()) d += " " + p.product;
  if (!p.serial.empty()) d += " serial " + p.serial;
  if (!p.subsystem.empty() && p.vid.empty()) d += " " + p.subsystem;
  if (!p.driver.empty()) d += (d.empty() ? " driver " : ", driver ") + p.driver;
  if (p.subsystem == "platform") d += " (legacy UART; may have no hardware)";
  return d;
}

}  // namespace

std::string ScanReach(const RegistryFile& reg) {
  std::string reached;
  for (int n = kFirstScanPort; n <= kLastScanPort; ++n) {
    const std::string com = "COM" + std::to_string(n);
    Resolved r;
    std::string why;
    if (!ResolvePort(com, reg, &r, &why) || r.source == MapSource::None) continue;
    const std::string state = StateOf(r.device);
    if (state.rfind("missing", 0) == 0 || state == "not a serial device") continue;
    reached += (reached.empty() ? "" : ", ") + com + " " + EscapeMessage(r.device);
  }
  return reached.empty() ? "no port" : reached;
}

std::string FormatPorts(const std::vector<PortInfo>& ports, const RegistryFile& reg) {
  std::string out;
  for (const auto& p : ports) {
    out += EscapeMessage(p.device) + " " + EscapeMessage(Describe(p)) + "\n";
    for (const auto& link : p.byId) out += "    by-id: " + EscapeMessage(link) + "\n";
    if (!p.mappedAs.empty()) out += "    registry: " + Joined(p.mappedAs) + "\n";
    if (!p.defaultAs.empty()) out += "    default name: " + Joined(p.defaultAs) + "\n";
    if (!p.scannedAs.empty())
      out += "    tried by the start-up scan as: " + Joined(p.scannedAs) + "\n";
  }
  if (ports.empty()) out += "no serial ports found\n";
  const std::vector<Mapping> maps = RegistryMappings(reg);
  if (!maps.empty()) out += "\nregistry Ports map:\n";
  for (const auto& m : maps) {
    out += "    " + EscapeMessage(m.name) + " = " + EscapeMessage(m.device) + ": " + m.state + "\n";
  }
  out +=
      "\nthe start-up scan (FC_Inicializa with a port name whose fourth character is U, such "
      "as COMU) tries COM7 to COM22; here it reaches " +
      ScanReach(reg) + "\n";
  out += "registry file: " + RegistryState(reg) + "\n";
  const std::string lines = SuggestedPortsLines(reg, ports);
  if (!lines.empty() && platform::HasComDevices()) {
    out += "to reach a network port as a COM name the scan tries, run (with its address):\n";
  } else if (!lines.empty()) {
    out += "lines for its Ports map (COM7 to COM22 are tried by the scan):\n";
  }
  out += lines;
  return out;
}

namespace {

tools::Json PortJson(const PortInfo& p) {
  return {{"device", tools::JsonText(p.device)},
          {"friendlyName", tools::JsonText(p.friendlyName)},
          {"byId", tools::JsonTexts(p.byId)},
          {"driver", tools::JsonText(p.driver)},
          {"subsystem", tools::JsonText(p.subsystem)},
          {"vid", tools::JsonText(p.vid)},
          {"pid", tools::JsonText(p.pid)},
          {"manufacturer", tools::JsonText(p.manufacturer)},
          {"product", tools::JsonText(p.product)},
          {"serial", tools::JsonText(p.serial)},
          {"registry", tools::JsonTexts(p.mappedAs)},
          {"default", tools::JsonTexts(p.defaultAs)},
          {"scan", tools::JsonTexts(p.scannedAs)}};
}

}  // namespace

std::string FormatPortsJson(const std::vector<PortInfo>& ports, const RegistryFile& reg) {
  tools::Json list = tools::Json::array();
  for (const auto& p : ports) list.push_back(PortJson(p));
  tools::Json mappings = tools::Json::array();
  for (const auto& m : RegistryMappings(reg)) {
    mappings.push_back({{"name", tools::JsonText(m.name)},
                        {"device", tools::JsonText(m.device)},
                        {"state", tools::JsonText(m.state)}});
  }
  return tools::DumpJson({{"ports", list},
                          {"registryFile", tools::JsonText(RegistryState(reg))},
                          {"portsLines", tools::JsonText(SuggestedPortsLines(reg, ports))},
                          {"mappings", mappings},
                          {"scan", tools::JsonText(ScanReach(reg))}});
}

int RunPorts(const std::vector<std::string>& args) {
  constexpr tools::OptionEntry kOptions[] = {{0, "--json", 0, false}};
  tools::OptionParser parser(kOptions, args);
  tools::OptionParser::Item item;
  std::string error;
  bool json = false;
  for (tools::OptionParser::Got got;
       (got = parser.Next(&item, &error)) != tools::OptionParser::Got::End;) {
    if (got == tools::OptionParser::Got::Option) {
      json = true;
      continue;
    }
    if (got == tools::OptionParser::Got::Word) error = "unknown argument '" + item.value + "'";
    std::fprintf(stderr, "tarvo ports: %s (only --json)\n", error.c_str());
    return 2;
  }
  PortRoots roots;
  if (const char* sys = std::getenv("TARVO_SYS_ROOT")) roots.sys = sys;
  if (const char* dev = std::getenv("TARVO_DEV_ROOT")) roots.dev = dev;
  const RegistryFile reg = LoadRegistry(RegistryPath());
  std::vector<PortInfo> ports = ListPorts(roots);
  MarkMappings(reg, &ports);
  const std::string text = json ? FormatPortsJson(ports, reg) : FormatPorts(ports, reg);
  platform::Print(stdout, text);
  return 0;
}

}  // namespace tarvo::cli
