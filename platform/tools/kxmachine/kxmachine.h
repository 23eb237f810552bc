// The verbs of the machine command, one file a verb family.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kxmachine {

// What `kxmachine create` lays out.
struct CreateOptions {
  bool force = false;                       // clear a folder that is not empty
  std::optional<std::string> code_page;     // the store setting "codepage"
  std::optional<std::string> box_delay_ms;  // the store setting "box_delay_ms"
  std::string model = "KX51 Laser";         // the device key's "Model"
  std::filesystem::path bin_dir;            // where the host programs are
  bool setup_standin = false;               // the stand-in even when bin/setup exists
};
int CreateMachine(const CreateOptions& options);

// The journal as a timeline, one column a process; from the machine's
// creation on, or all of it.
int ShowJournal(bool all, bool plain);
// The message boxes shown, as MessageBoxA recorded them.
int ShowBoxes();
// Keys and values below a path of HKEY_LOCAL_MACHINE ("" for all).
int ShowKeys(const std::string& path);
// Printers and the default printer.
int ShowPrinters();

// Bytes as a terminal shows them: printable ASCII as is, the rest escaped.
std::string Printable(const std::string& bytes);
// What 8-bit text that is not plain ASCII spells in the double-byte code
// pages the installer writes ("reads \"...\" in code page 936, ..."); empty
// for plain ASCII or bytes that are no text.
std::string Readings(const std::string& bytes);
// Bytes in hex, "00 01 ff".
std::string HexBytes(const unsigned char* data, size_t size);

// The store setting that marks where the journal of a new machine's use
// begins (after what `create` itself did).
inline constexpr const char* kCreatedSeqSetting = "kxmachine_created_seq";

}  // namespace kxmachine
