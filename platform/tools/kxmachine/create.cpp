// `kxmachine create`: a new machine ready for one installation. The device
// that the parallel port's enumeration found, the Windows and system
// directories with the platform's programs, and an installation source on
// drive A:.
#include <cstdio>
#include <fstream>
#include <string>

#include "host.h"
#include "kxmachine.h"

namespace kxmachine {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDeviceKeyPath = "Enum\\LPTENUM\\KALDRENKX512E10";
constexpr const char* kSourceDirectory = "A:\\";

// The driver's files on the installation source; the machine only needs
// them to be there.
constexpr const char* kDriverFiles[] = {"KX51.DRV", "KX51.HLP", "QRN16V40.DLL", "KX51CH.DLL",
                                        "LWE16V40.DLL"};

// Written when the sample INF of the source tree is not there.
constexpr const char* kSmallInf =
    "; The installation's INF; Setup.Exe copies it into the Windows INF directory.\r\n"
    "[Version]\r\n"
    "Signature=\"$CHICAGO$\"\r\n"
    "Class=Printer\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "\"KX51\"=KX51\r\n"
    "\r\n"
    "[KX51]\r\n"
    "\"KX51 Laser\"=KX51.DRV,LPTENUM\\KALDRENKX512E10\r\n";

bool IsEmptyFolder(const fs::path& dir) {
  std::error_code error;
  return !fs::exists(dir, error) || (fs::is_directory(dir, error) && fs::is_empty(dir, error));
}

void ClearFolder(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
}

void WriteFile(const std::string& windows_path, const std::string& content) {
  std::ofstream file(kxhost::HostPath(windows_path), std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) throw std::runtime_error("cannot write " + windows_path);
}

// A host program placed under a Windows name. A missing program is reported
// and left out: the road then stops where it is needed.
bool Install(const fs::path& program, const std::string& windows_path) {
  if (!fs::exists(program)) {
    std::fprintf(stderr, "kxmachine: %s is not built; %s left out\n", program.c_str(),
                 windows_path.c_str());
    return false;
  }
  fs::copy_file(program, kxhost::HostPath(windows_path), fs::copy_options::overwrite_existing);
  return true;
}

void CreateDeviceKey(const std::string& model) {
  HKEY device = nullptr;
  LONG status = RegCreateKeyA(HKEY_LOCAL_MACHINE, kDeviceKeyPath, &device);
  if (status != ERROR_SUCCESS)
    throw std::runtime_error("RegCreateKeyA " + std::string(kDeviceKeyPath) + " failed (" +
                             std::to_string(status) + ")");
  status = RegSetValueExA(device, "Model", 0, REG_SZ, reinterpret_cast<const BYTE*>(model.c_str()),
                          static_cast<DWORD>(model.size() + 1));
  RegCloseKey(device);
  if (status != ERROR_SUCCESS)
    throw std::runtime_error("RegSetValueExA Model failed (" + std::to_string(status) + ")");
}

int64_t LastJournalSeq() {
  auto entries = kxhost::ReadJournal();
  return entries.empty() ? 0 : entries.back().seq;
}

}  // namespace

int CreateMachine(const CreateOptions& options) {
  const fs::path dir = kxhost::MachineDir();
  if (!IsEmptyFolder(dir)) {
    if (!options.force) {
      std::fprintf(stderr,
                   "kxmachine: %s is not empty; give --force to replace the machine in it\n",
                   dir.c_str());
      return 1;
    }
    // Only a machine is replaced: a folder of other things is never cleared.
    if (!fs::exists(dir / "machine.db")) {
      std::fprintf(stderr, "kxmachine: %s holds no machine; not clearing it\n", dir.c_str());
      return 1;
    }
    kxhost::Store::Reset();
    ClearFolder(dir);
  }
  fs::create_directories(dir);
  kxhost::Store::Reset();
  auto& store = kxhost::Store::Get();
  if (options.code_page) store.SetSetting("codepage", *options.code_page);
  if (options.box_delay_ms) store.SetSetting("box_delay_ms", *options.box_delay_ms);

  const std::string windows = kxhost::WindowsDirectory();
  const std::string system = kxhost::SystemDirectory();
  for (const std::string& directory : {windows, system, windows + "\\INF", std::string("A:\\")})
    fs::create_directories(kxhost::HostPath(directory));

  const fs::path& bin = options.bin_dir;
  Install(bin / "rundll32", system + "\\RUNDLL32.EXE");
  Install(bin / "KX51PNP.so", system + "\\KX51PNP.DLL");
  Install(bin / "explorer", windows + "\\EXPLORER.EXE");
  const std::string setup_path = std::string(kSourceDirectory) + "Setup.Exe";
  if (options.setup_standin || !fs::exists(bin / "setup"))
    Install(bin / "setup-standin", setup_path);
  else
    Install(bin / "setup", setup_path);

  const fs::path sample_inf = fs::path(KX_SOURCE_DIR) / "setup" / "sample" / "WIN95.INF";
  if (fs::exists(sample_inf))
    fs::copy_file(sample_inf, kxhost::HostPath(std::string(kSourceDirectory) + "WIN95.INF"),
                  fs::copy_options::overwrite_existing);
  else
    WriteFile(std::string(kSourceDirectory) + "WIN95.INF", kSmallInf);
  for (const char* name : kDriverFiles)
    WriteFile(std::string(kSourceDirectory) + name,
              std::string("placeholder for ") + name + "\r\n");

  CreateDeviceKey(options.model);
  store.SetSetting(kCreatedSeqSetting, std::to_string(LastJournalSeq()));
  std::printf("machine created in %s\n", dir.c_str());
  return 0;
}

}  // namespace kxmachine
