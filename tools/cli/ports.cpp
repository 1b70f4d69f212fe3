#include "cli/ports.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "cli/cli.h"
#include "serial/reg_file.h"
#include "serial/rfc2217.h"

namespace tarvo::cli {

namespace {

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// The last part of where a symbolic link points (sysfs and by-id links are
// relative; their targets need not be resolved).
std::string LinkBase(const std::string& link) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  const std::string target(buffer, static_cast<size_t>(n));
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

// Walks up from the tty's device to the USB device that carries it (the
// directory with idVendor), no higher than the sysfs root.
void ReadUsbFacts(const std::string& sysRoot, const std::string& deviceDir, PortInfo* p) {
  const std::string root = RealPath(sysRoot);
  for (std::string dir = RealPath(deviceDir); dir.size() > root.size();
       dir.resize(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'))) {
    if (access((dir + "/idVendor").c_str(), R_OK) != 0) continue;
    p->vid = FirstLine(dir + "/idVendor");
    p->pid = FirstLine(dir + "/idProduct");
    p->manufacturer = FirstLine(dir + "/manufacturer");
    p->product = FirstLine(dir + "/product");
    p->serial = FirstLine(dir + "/serial");
    return;
  }
}

}  // namespace

std::vector<PortInfo> ListPorts(const PortRoots& roots) {
  std::vector<PortInfo> ports;
  const std::string byIdDir = roots.dev + "/serial/by-id";
  const std::vector<std::string> byId = Entries(byIdDir);
  for (const auto& name : Entries(roots.sys + "/class/tty")) {
    const std::string entry = roots.sys + "/class/tty/" + name;
    if (access((entry + "/device").c_str(), F_OK) != 0) continue;  // virtual console, pty
    PortInfo p;
    p.name = name;
    p.device = "/dev/" + name;
    // Newer kernels put a port and a controller device of the serial core
    // ("serial-base") between the tty and the hardware: look past them.
    std::string device = entry + "/device";
    for (int up = 0; up < 2 && LinkBase(device + "/subsystem") == "serial-base"; ++up) {
      device += "/..";
    }
    p.driver = LinkBase(device + "/driver");
    p.subsystem = LinkBase(device + "/subsystem");
    if (p.subsystem == "usb" || p.subsystem == "usb-serial")
      ReadUsbFacts(roots.sys, entry + "/device", &p);
    for (const auto& link : byId) {
      std::string path = byIdDir;
      path += '/';
      path += link;
      if (LinkBase(path) == name) p.byId.push_back(std::string("/dev/serial/by-id/").append(link));
    }
    ports.push_back(std::move(p));
  }
  return ports;
}

namespace {

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
std::string DeviceState(const std::string& device) {
  if (rfc2217::HasScheme(device.c_str())) return "network port (tarvo why tries it)";
  struct stat st {};
  if (lstat(device.c_str(), &st) != 0) return "missing: nothing there (adapter unplugged?)";
  const bool link = S_ISLNK(st.st_mode);
  if (stat(device.c_str(), &st) != 0) return "missing: a link to nothing (adapter unplugged?)";
  if (!S_ISCHR(st.st_mode)) return "not a serial device";
  const bool pty = device.rfind("/dev/pts/", 0) == 0;
  return std::string(pty ? "pseudo-terminal" : "present") + (link ? " (through a link)" : "");
}

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
    } else {
      m.state = DeviceState(m.device);
    }
    out.push_back(m);
  }
  return out;
}

std::string SuggestedPortsLines(const RegistryFile& reg, const std::vector<PortInfo>& ports) {
  std::string lines;
  int next = kFirstScanPort;
  auto used = [&](int n) {
    std::string v;
    return RegistryString(reg, kPortsSection, "COM" + std::to_string(n), &v);
  };
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

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const auto& i : items) out += (out.size() > 1 ? "," : "") + JsonString(i);
  return out + "]";
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
  if (!p.vid.empty()) d += " USB " + p.vid + ":" + p.pid;
  if (!p.manufacturer.empty()) d += " " + p.manufacturer;
  if (!p.product.empty()) d += " " + p.product;
  if (!p.serial.empty()) d += " serial " + p.serial;
  if (!p.subsystem.empty() && p.vid.empty()) d += " " + p.subsystem;
  if (!p.driver.empty()) d += ", driver " + p.driver;
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
    const std::string state = DeviceState(r.device);
    if (state.rfind("missing", 0) == 0 || state == "not a serial device") continue;
    reached += (reached.empty() ? "" : ", ") + com + " " + EscapeLine(r.device);
  }
  return reached.empty() ? "no port" : reached;
}

std::string FormatPorts(const std::vector<PortInfo>& ports, const RegistryFile& reg) {
  std::string out;
  for (const auto& p : ports) {
    out += EscapeLine(p.device) + " " + EscapeLine(Describe(p)) + "\n";
    for (const auto& link : p.byId) out += "    by-id: " + EscapeLine(link) + "\n";
    if (!p.mappedAs.empty()) out += "    registry: " + Joined(p.mappedAs) + "\n";
    if (!p.defaultAs.empty()) out += "    default name: " + Joined(p.defaultAs) + "\n";
    if (!p.scannedAs.empty())
      out += "    tried by the start-up scan as: " + Joined(p.scannedAs) + "\n";
  }
  if (ports.empty()) out += "no serial ports found\n";
  const std::vector<Mapping> maps = RegistryMappings(reg);
  if (!maps.empty()) out += "\nregistry Ports map:\n";
  for (const auto& m : maps) {
    out += "    " + EscapeLine(m.name) + " = " + EscapeLine(m.device) + ": " + m.state + "\n";
  }
  out +=
      "\nthe start-up scan (FC_Inicializa with a port name whose fourth character is U, such "
      "as COMU) tries COM7 to COM22; here it reaches " +
      ScanReach(reg) + "\n";
  out += "registry file: " + RegistryState(reg) + "\n";
  const std::string lines = SuggestedPortsLines(reg, ports);
  if (!lines.empty())
    out += "lines for its Ports map (COM7 to COM22 are tried by the scan):\n" + lines;
  return out;
}

std::string JsonMappings(const RegistryFile& reg) {
  std::string out = "[";
  for (const auto& m : RegistryMappings(reg)) {
    out += (out.size() > 1 ? "," : "") + std::string("{\"name\":") + JsonString(m.name) +
           ",\"device\":" + JsonString(m.device) + ",\"state\":" + JsonString(m.state) + "}";
  }
  return out + "]";
}

std::string FormatPortsJson(const std::vector<PortInfo>& ports, const RegistryFile& reg) {
  std::string out = "{\"ports\":[";
  bool first = true;
  for (const auto& p : ports) {
    out += first ? "" : ",";
    first = false;
    out += "{\"device\":" + JsonString(p.device) + ",\"byId\":" + JsonList(p.byId) +
           ",\"driver\":" + JsonString(p.driver) + ",\"subsystem\":" + JsonString(p.subsystem) +
           ",\"vid\":" + JsonString(p.vid) + ",\"pid\":" + JsonString(p.pid) +
           ",\"manufacturer\":" + JsonString(p.manufacturer) +
           ",\"product\":" + JsonString(p.product) + ",\"serial\":" + JsonString(p.serial) +
           ",\"registry\":" + JsonList(p.mappedAs) + ",\"default\":" + JsonList(p.defaultAs) +
           ",\"scan\":" + JsonList(p.scannedAs) + "}";
  }
  return out + "],\"registryFile\":" + JsonString(RegistryState(reg)) +
         ",\"portsLines\":" + JsonString(SuggestedPortsLines(reg, ports)) +
         ",\"mappings\":" + JsonMappings(reg) + ",\"scan\":" + JsonString(ScanReach(reg)) + "}\n";
}

int RunPorts(const std::vector<std::string>& args) {
  bool json = false;
  for (const auto& a : args) {
    if (a == "--json") {
      json = true;
    } else {
      std::fprintf(stderr, "tarvo ports: unknown argument '%s' (only --json)\n", a.c_str());
      return 2;
    }
  }
  PortRoots roots;
  if (const char* sys = std::getenv("TARVO_SYS_ROOT")) roots.sys = sys;
  if (const char* dev = std::getenv("TARVO_DEV_ROOT")) roots.dev = dev;
  const RegistryFile reg = LoadRegistry(RegistryPath());
  std::vector<PortInfo> ports = ListPorts(roots);
  MarkMappings(reg, &ports);
  const std::string text = json ? FormatPortsJson(ports, reg) : FormatPorts(ports, reg);
  std::fputs(text.c_str(), stdout);
  return 0;
}

}  // namespace tarvo::cli
