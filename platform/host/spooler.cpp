// The print spooler: port monitors, printer drivers, printers and the
// default printer, kept in the store and refused with the error codes of the
// Windows 95 family's spooler. Names are the caller's bytes (the machine's
// code page), matched regardless of the case of their ASCII letters.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "host.h"

namespace kxhost {

KX_HOST_SCHEMA("spooler",
               "CREATE TABLE IF NOT EXISTS spooler_ports("
               " key TEXT PRIMARY KEY, name TEXT NOT NULL);"
               "INSERT OR IGNORE INTO spooler_ports VALUES"
               " ('LPT1:', 'LPT1:'), ('LPT2:', 'LPT2:'), ('LPT3:', 'LPT3:'),"
               " ('COM1:', 'COM1:'), ('COM2:', 'COM2:'), ('FILE:', 'FILE:');"
               "CREATE TABLE IF NOT EXISTS spooler_print_processors("
               " key TEXT PRIMARY KEY, name TEXT NOT NULL);"
               "INSERT OR IGNORE INTO spooler_print_processors VALUES ('WINPRINT', 'WinPrint');"
               "CREATE TABLE IF NOT EXISTS spooler_monitors("
               " key TEXT PRIMARY KEY, name TEXT NOT NULL, environment TEXT NOT NULL,"
               " dll TEXT NOT NULL);"
               "CREATE TABLE IF NOT EXISTS spooler_drivers("
               " key TEXT NOT NULL, environment TEXT NOT NULL, name TEXT NOT NULL,"
               " version INTEGER NOT NULL, driver_path TEXT, data_file TEXT, config_file TEXT,"
               " help_file TEXT, dependent_files BLOB, monitor TEXT, default_datatype TEXT,"
               " PRIMARY KEY(key, environment));"
               "CREATE TABLE IF NOT EXISTS spooler_printers("
               " id INTEGER PRIMARY KEY AUTOINCREMENT, key TEXT UNIQUE NOT NULL,"
               " name TEXT NOT NULL, share TEXT, port TEXT NOT NULL, driver TEXT NOT NULL,"
               " comment TEXT, location TEXT, sep_file TEXT, print_processor TEXT NOT NULL,"
               " datatype TEXT, parameters TEXT, attributes INTEGER NOT NULL,"
               " priority INTEGER NOT NULL, default_priority INTEGER NOT NULL,"
               " start_time INTEGER NOT NULL, until_time INTEGER NOT NULL,"
               " status INTEGER NOT NULL, is_default INTEGER NOT NULL DEFAULT 0)");

}  // namespace kxhost

namespace {

using kxhost::Store;

// The spooler's own environment on the Windows 95 family, and the names it
// accepts for it.
constexpr const char* kOwnEnvironment = "Windows 4.0";
constexpr const char* kKnownEnvironments[] = {"Windows 4.0", "Windows x86", "Windows NT x86"};
// The data types of the one print processor.
constexpr const char* kKnownDatatypes[] = {"RAW", "EMF", "TEXT"};

// Folds the ASCII letters of a name, stepping over the trail bytes of the
// code page's double-byte characters.
std::string NameKey(std::string_view name) {
  std::string key(name);
  for (size_t i = 0; i < key.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (IsDBCSLeadByte(c) && i + 1 < key.size()) {
      ++i;
      continue;
    }
    if (c >= 'a' && c <= 'z') key[i] = static_cast<char>(c - 32);
  }
  return key;
}

std::optional<std::string> Text(LPCSTR text) {
  return text ? std::optional<std::string>(text) : std::nullopt;
}

void BindText(kxhost::Statement& statement, int index, const std::optional<std::string>& text) {
  if (text)
    statement.Bind(index, *text);
  else
    statement.BindNull(index);
}

std::optional<std::string> ColumnText(const kxhost::Statement& statement, int column) {
  return statement.IsNull(column) ? std::nullopt
                                  : std::optional<std::string>(statement.Text(column));
}

// Members as the journal shows them: texts quoted, null as null.
std::string Show(const std::optional<std::string>& text) {
  return text ? "\"" + *text + "\"" : std::string("null");
}
std::string Show(LPCSTR text) { return Show(Text(text)); }
std::string ShowHex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%" PRIX32, value);
  return text;
}

// A zero-terminated list of zero-terminated texts, ended by one more zero.
std::vector<std::string> TextList(LPCSTR list) {
  std::vector<std::string> items;
  if (!list) return items;
  for (const char* item = list; *item; item += std::strlen(item) + 1) items.emplace_back(item);
  return items;
}
std::string ShowList(LPCSTR list) {
  if (!list) return "null";
  std::string shown = "{";
  for (const auto& item : TextList(list)) shown += (shown.size() > 1 ? "," : "") + Show(item);
  return shown + "}";
}

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

bool RowExists(const char* table, std::string_view key) {
  auto query = Store::Get().Prepare(std::string("SELECT 1 FROM ") + table + " WHERE key = ?");
  query.Bind(1, key);
  return query.Step();
}

bool IsKnownEnvironment(const std::optional<std::string>& environment) {
  if (!environment || environment->empty()) return true;
  for (const char* known : kKnownEnvironments)
    if (kxhost::EqualsNoCase(*environment, known)) return true;
  return false;
}

bool IsKnownDatatype(const std::optional<std::string>& datatype) {
  if (!datatype || datatype->empty()) return true;
  for (const char* known : kKnownDatatypes)
    if (kxhost::EqualsNoCase(*datatype, known)) return true;
  return false;
}

bool IsKnownDriver(std::string_view name) {
  auto query = Store::Get().Prepare("SELECT 1 FROM spooler_drivers WHERE key = ?");
  query.Bind(1, NameKey(name));
  return query.Step();
}

// ---- printers --------------------------------------------------------------

// A printer as the store keeps it; the text members are null when unset.
struct Printer {
  int64_t id = 0;
  std::string name;
  std::optional<std::string> share, port, driver, comment, location, sep_file, print_processor,
      datatype, parameters;
  DWORD attributes = 0, priority = 0, default_priority = 0, start_time = 0, until_time = 0,
        status = 0;
  bool is_default = false;
};

constexpr const char* kPrinterColumns =
    "id, name, share, port, driver, comment, location, sep_file, print_processor, datatype, "
    "parameters, attributes, priority, default_priority, start_time, until_time, status, "
    "is_default";

Printer ReadPrinter(const kxhost::Statement& row) {
  Printer printer;
  printer.id = row.Int(0);
  printer.name = row.Text(1);
  printer.share = ColumnText(row, 2);
  printer.port = ColumnText(row, 3);
  printer.driver = ColumnText(row, 4);
  printer.comment = ColumnText(row, 5);
  printer.location = ColumnText(row, 6);
  printer.sep_file = ColumnText(row, 7);
  printer.print_processor = ColumnText(row, 8);
  printer.datatype = ColumnText(row, 9);
  printer.parameters = ColumnText(row, 10);
  printer.attributes = static_cast<DWORD>(row.Int(11));
  printer.priority = static_cast<DWORD>(row.Int(12));
  printer.default_priority = static_cast<DWORD>(row.Int(13));
  printer.start_time = static_cast<DWORD>(row.Int(14));
  printer.until_time = static_cast<DWORD>(row.Int(15));
  printer.status = static_cast<DWORD>(row.Int(16));
  printer.is_default = row.Int(17) != 0;
  return printer;
}

std::optional<Printer> FindPrinter(std::string_view where,
                                   const std::function<void(kxhost::Statement&)>& bind) {
  auto query = Store::Get().Prepare(std::string("SELECT ") + kPrinterColumns +
                                    " FROM spooler_printers WHERE " + std::string(where));
  bind(query);
  if (!query.Step()) return std::nullopt;
  return ReadPrinter(query);
}

std::optional<Printer> PrinterById(int64_t id) {
  return FindPrinter("id = ?", [&](kxhost::Statement& query) { query.Bind(1, id); });
}

std::optional<Printer> PrinterByName(std::string_view name) {
  return FindPrinter("key = ?", [&](kxhost::Statement& query) { query.Bind(1, NameKey(name)); });
}

std::vector<Printer> AllPrinters(bool default_only) {
  auto query =
      Store::Get().Prepare(std::string("SELECT ") + kPrinterColumns + " FROM spooler_printers" +
                           (default_only ? " WHERE is_default != 0" : "") + " ORDER BY id");
  std::vector<Printer> printers;
  while (query.Step()) printers.push_back(ReadPrinter(query));
  return printers;
}

// The printer's members from PRINTER_INFO_2; the name, port, driver and print
// processor must name things the spooler knows.
bool TakeInfo(const PRINTER_INFO_2A& info, Printer* printer) {
  if (!info.pPrinterName || !*info.pPrinterName || std::strpbrk(info.pPrinterName, "\\,"))
    return Fail(ERROR_INVALID_PRINTER_NAME);
  if (!info.pPortName || !RowExists("spooler_ports", kxhost::FoldCase(info.pPortName)))
    return Fail(ERROR_UNKNOWN_PORT);
  if (!info.pDriverName || !IsKnownDriver(info.pDriverName))
    return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
  if (!info.pPrintProcessor ||
      !RowExists("spooler_print_processors", kxhost::FoldCase(info.pPrintProcessor)))
    return Fail(ERROR_UNKNOWN_PRINTPROCESSOR);
  if (!IsKnownDatatype(Text(info.pDatatype))) return Fail(ERROR_INVALID_DATATYPE);
  printer->name = info.pPrinterName;
  printer->share = Text(info.pShareName);
  printer->port = Text(info.pPortName);
  printer->driver = Text(info.pDriverName);
  printer->comment = Text(info.pComment);
  printer->location = Text(info.pLocation);
  printer->sep_file = Text(info.pSepFile);
  printer->print_processor = Text(info.pPrintProcessor);
  printer->datatype = Text(info.pDatatype);
  printer->parameters = Text(info.pParameters);
  // The default bit is no attribute the printer keeps: it makes the printer
  // the default one.
  printer->attributes = info.Attributes & ~static_cast<DWORD>(PRINTER_ATTRIBUTE_DEFAULT);
  printer->priority = info.Priority;
  printer->default_priority = info.DefaultPriority;
  printer->start_time = info.StartTime;
  printer->until_time = info.UntilTime;
  return true;
}

// Inserts (id 0) or replaces a printer; with `make_default`, it becomes the
// one default printer.
int64_t StorePrinter(const Printer& printer, bool make_default) {
  auto& store = Store::Get();
  int64_t id = printer.id;
  store.Transaction([&] {
    if (make_default) store.Exec("UPDATE spooler_printers SET is_default = 0");
    auto statement = store.Prepare(
        id == 0 ? "INSERT INTO spooler_printers(key, name, share, port, driver, comment, "
                  "location, sep_file, print_processor, datatype, parameters, attributes, "
                  "priority, default_priority, start_time, until_time, status, is_default) "
                  "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, "
                  "?17, ?18)"
                : "UPDATE spooler_printers SET key = ?1, name = ?2, share = ?3, port = ?4, "
                  "driver = ?5, comment = ?6, location = ?7, sep_file = ?8, "
                  "print_processor = ?9, datatype = ?10, parameters = ?11, attributes = ?12, "
                  "priority = ?13, default_priority = ?14, start_time = ?15, until_time = ?16, "
                  "status = ?17, is_default = ?18 WHERE id = ?19");
    statement.Bind(1, NameKey(printer.name)).Bind(2, printer.name);
    BindText(statement, 3, printer.share);
    BindText(statement, 4, printer.port);
    BindText(statement, 5, printer.driver);
    BindText(statement, 6, printer.comment);
    BindText(statement, 7, printer.location);
    BindText(statement, 8, printer.sep_file);
    BindText(statement, 9, printer.print_processor);
    BindText(statement, 10, printer.datatype);
    BindText(statement, 11, printer.parameters);
    statement.Bind(12, printer.attributes)
        .Bind(13, printer.priority)
        .Bind(14, printer.default_priority)
        .Bind(15, printer.start_time)
        .Bind(16, printer.until_time)
        .Bind(17, printer.status)
        .Bind(18, (make_default || printer.is_default) ? 1 : 0);
    if (id != 0) statement.Bind(19, id);
    statement.Run();
    if (id == 0) id = sqlite3_last_insert_rowid(store.db());
  });
  return id;
}

// The level-2 information of printers laid out as the platform lays it: the
// structures first, then the texts they point to.
class InfoPacker {
 public:
  static size_t Size(const Printer& printer) {
    size_t size = sizeof(PRINTER_INFO_2A) + printer.name.size() + 1;
    for (const auto* text : Texts(printer))
      if (*text) size += (*text)->size() + 1;
    return size;
  }

  static void Pack(const std::vector<Printer>& printers, LPBYTE buffer) {
    LPBYTE strings = buffer + printers.size() * sizeof(PRINTER_INFO_2A);
    auto place = [&](const std::optional<std::string>& text) -> LPSTR {
      if (!text) return nullptr;
      LPSTR at = reinterpret_cast<LPSTR>(strings);
      std::memcpy(at, text->c_str(), text->size() + 1);
      strings += text->size() + 1;
      return at;
    };
    for (size_t i = 0; i < printers.size(); ++i) {
      const Printer& printer = printers[i];
      PRINTER_INFO_2A info{};
      info.pServerName = nullptr;  // the local machine
      info.pPrinterName = place(printer.name);
      info.pShareName = place(printer.share);
      info.pPortName = place(printer.port);
      info.pDriverName = place(printer.driver);
      info.pComment = place(printer.comment);
      info.pLocation = place(printer.location);
      info.pDevMode = nullptr;
      info.pSepFile = place(printer.sep_file);
      info.pPrintProcessor = place(printer.print_processor);
      info.pDatatype = place(printer.datatype);
      info.pParameters = place(printer.parameters);
      info.pSecurityDescriptor = nullptr;
      info.Attributes = printer.attributes | (printer.is_default ? PRINTER_ATTRIBUTE_DEFAULT : 0);
      info.Priority = printer.priority;
      info.DefaultPriority = printer.default_priority;
      info.StartTime = printer.start_time;
      info.UntilTime = printer.until_time;
      info.Status = printer.status;
      info.cJobs = 0;
      info.AveragePPM = 0;
      // The caller's buffer need not be aligned for the structure.
      std::memcpy(buffer + i * sizeof(PRINTER_INFO_2A), &info, sizeof info);
    }
  }

 private:
  static std::vector<const std::optional<std::string>*> Texts(const Printer& printer) {
    return {&printer.share,           &printer.port,     &printer.driver,
            &printer.comment,         &printer.location, &printer.sep_file,
            &printer.print_processor, &printer.datatype, &printer.parameters};
  }
};

std::string ShowPrinterInfo(DWORD level, const PRINTER_INFO_2A& info) {
  return "level=" + std::to_string(level) + " pServerName=" + Show(info.pServerName) +
         " pPrinterName=" + Show(info.pPrinterName) + " pShareName=" + Show(info.pShareName) +
         " pPortName=" + Show(info.pPortName) + " pDriverName=" + Show(info.pDriverName) +
         " pComment=" + Show(info.pComment) + " pLocation=" + Show(info.pLocation) +
         " pDevMode=" + (info.pDevMode ? "set" : "null") + " pSepFile=" + Show(info.pSepFile) +
         " pPrintProcessor=" + Show(info.pPrintProcessor) + " pDatatype=" + Show(info.pDatatype) +
         " pParameters=" + Show(info.pParameters) +
         " pSecurityDescriptor=" + (info.pSecurityDescriptor ? "set" : "null") +
         " Attributes=" + ShowHex(info.Attributes) + " Priority=" + std::to_string(info.Priority) +
         " DefaultPriority=" + std::to_string(info.DefaultPriority) +
         " StartTime=" + std::to_string(info.StartTime) +
         " UntilTime=" + std::to_string(info.UntilTime) + " Status=" + std::to_string(info.Status) +
         " cJobs=" + std::to_string(info.cJobs) + " AveragePPM=" + std::to_string(info.AveragePPM);
}

std::string Outcome(bool ok) { return ok ? "ok" : "error " + std::to_string(GetLastError()); }

// A handle from OpenPrinterA or AddPrinterA: the printer it stands for.
class PrinterHandle : public kxhost::KernelObject {
 public:
  PrinterHandle(int64_t id, std::string name) : id_(id), name_(std::move(name)) {}
  int64_t id() const { return id_; }
  const std::string& name() const { return name_; }

 private:
  int64_t id_;
  std::string name_;
};

PrinterHandle* FindPrinterHandle(HANDLE handle) {
  auto* printer = kxhost::FindHandleAs<PrinterHandle>(handle);
  if (!printer) SetLastError(ERROR_INVALID_HANDLE);
  return printer;
}

// The printer that a handle stands for, while it is installed.
std::optional<Printer> HandlePrinter(const PrinterHandle& handle) {
  auto printer = PrinterById(handle.id());
  if (!printer) SetLastError(ERROR_INVALID_PRINTER_NAME);
  return printer;
}

}  // namespace

namespace kxhost {

std::vector<PrinterRecord> Printers() {
  std::vector<PrinterRecord> records;
  for (const auto& printer : AllPrinters(false)) {
    PrinterRecord record;
    record.name = printer.name;
    record.port = printer.port.value_or("");
    record.driver = printer.driver.value_or("");
    record.print_processor = printer.print_processor.value_or("");
    record.datatype = printer.datatype.value_or("");
    record.attributes = printer.attributes;
    record.priority = printer.priority;
    record.status = printer.status;
    record.is_default = printer.is_default;
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<DriverRecord> PrinterDrivers() {
  auto query = Store::Get().Prepare(
      "SELECT name, environment, version, driver_path, data_file, config_file, help_file, "
      "dependent_files, monitor, default_datatype FROM spooler_drivers ORDER BY rowid");
  std::vector<DriverRecord> records;
  while (query.Step()) {
    DriverRecord record;
    record.name = query.Text(0);
    record.environment = query.Text(1);
    record.version = static_cast<DWORD>(query.Int(2));
    record.driver_path = query.Text(3);
    record.data_file = query.Text(4);
    record.config_file = query.Text(5);
    record.help_file = query.Text(6);
    auto list = query.Blob(7);
    list.push_back(0);
    list.push_back(0);
    record.dependent_files = TextList(reinterpret_cast<const char*>(list.data()));
    record.monitor = query.Text(8);
    record.default_datatype = query.Text(9);
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<MonitorRecord> PrintMonitors() {
  auto query =
      Store::Get().Prepare("SELECT name, environment, dll FROM spooler_monitors ORDER BY rowid");
  std::vector<MonitorRecord> records;
  while (query.Step()) records.push_back({query.Text(0), query.Text(1), query.Text(2)});
  return records;
}

}  // namespace kxhost

namespace {

BOOL OpenPrinterAsked(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) {
  if (!printer) return Fail(ERROR_INVALID_PARAMETER);
  *printer = nullptr;
  if (kxhost::FailsByFault("OpenPrinterA", name ? name : "")) return FALSE;
  if (!name || !*name) return Fail(ERROR_INVALID_PRINTER_NAME);
  if (defaults && !IsKnownDatatype(Text(defaults->pDatatype))) return Fail(ERROR_INVALID_DATATYPE);
  auto found = PrinterByName(name);
  if (!found) return Fail(ERROR_INVALID_PRINTER_NAME);
  *printer = kxhost::AddHandle(std::make_unique<PrinterHandle>(found->id, found->name));
  return TRUE;
}

}  // namespace

BOOL WINAPI OpenPrinterA(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) {
  const BOOL ok = OpenPrinterAsked(name, printer, defaults);
  kxhost::Journal("OpenPrinterA",
                  "pPrinterName=" + Show(name) + " DesiredAccess=" +
                      (defaults ? ShowHex(defaults->DesiredAccess) : std::string("null")),
                  Outcome(ok));
  return ok;
}

BOOL WINAPI ClosePrinter(HANDLE printer) {
  auto* handle = FindPrinterHandle(printer);
  if (!handle) return FALSE;
  const std::string name = handle->name();
  const bool ok = !kxhost::FailsByFault("ClosePrinter", name);
  if (ok) kxhost::RemoveHandle(printer);
  kxhost::Journal("ClosePrinter", "pPrinterName=" + Show(name), Outcome(ok));
  return ok;
}

BOOL WINAPI DeletePrinter(HANDLE printer) {
  auto* handle = FindPrinterHandle(printer);
  if (!handle) return FALSE;
  const std::string name = handle->name();
  bool ok = !kxhost::FailsByFault("DeletePrinter", name);
  if (ok) {
    auto& store = Store::Get();
    store.Transaction([&] {
      store.Prepare("DELETE FROM spooler_printers WHERE id = ?").Bind(1, handle->id()).Run();
      if (sqlite3_changes(store.db()) == 0) ok = Fail(ERROR_INVALID_PRINTER_NAME);
    });
  }
  kxhost::Journal("DeletePrinter", "pPrinterName=" + Show(name), Outcome(ok));
  return ok;
}

BOOL WINAPI AddMonitorA(LPSTR server, DWORD level, LPBYTE monitors) {
  const auto* info = reinterpret_cast<const MONITOR_INFO_2A*>(monitors);
  const std::string detail = "level=" + std::to_string(level) +
                             (info && level == 2 ? " pName=" + Show(info->pName) +
                                                       " pEnvironment=" + Show(info->pEnvironment) +
                                                       " pDLLName=" + Show(info->pDLLName)
                                                 : std::string());
  bool ok = true;
  if (kxhost::FailsByFault("AddMonitorA", info && level == 2 && info->pName ? info->pName : ""))
    ok = false;
  else if (server && *server)
    ok = Fail(ERROR_INVALID_NAME);
  else if (level != 2)
    ok = Fail(ERROR_INVALID_LEVEL);
  else if (!info || !info->pName || !*info->pName)
    ok = Fail(ERROR_INVALID_PARAMETER);
  else if (!IsKnownEnvironment(Text(info->pEnvironment)))
    ok = Fail(ERROR_INVALID_ENVIRONMENT);
  else if (!info->pDLLName || !*info->pDLLName)
    ok = Fail(ERROR_INVALID_PARAMETER);
  if (ok) {
    auto& store = Store::Get();
    store.Transaction([&] {
      if (RowExists("spooler_monitors", NameKey(info->pName))) {
        ok = Fail(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
        return;
      }
      store.Prepare("INSERT INTO spooler_monitors(key, name, environment, dll) VALUES(?, ?, ?, ?)")
          .Bind(1, NameKey(info->pName))
          .Bind(2, info->pName)
          .Bind(3, info->pEnvironment && *info->pEnvironment ? info->pEnvironment : kOwnEnvironment)
          .Bind(4, info->pDLLName)
          .Run();
    });
  }
  kxhost::Journal("AddMonitorA", detail, Outcome(ok));
  return ok;
}

BOOL WINAPI AddPrinterDriverA(LPSTR server, DWORD level, LPBYTE driver_info) {
  // Levels 2 and 3 share their first members; level 3 adds the rest.
  const auto* info = reinterpret_cast<const DRIVER_INFO_3A*>(driver_info);
  std::string detail = "level=" + std::to_string(level);
  if (info && (level == 2 || level == 3)) {
    detail += " cVersion=" + ShowHex(info->cVersion) + " pName=" + Show(info->pName) +
              " pEnvironment=" + Show(info->pEnvironment) +
              " pDriverPath=" + Show(info->pDriverPath) + " pDataFile=" + Show(info->pDataFile) +
              " pConfigFile=" + Show(info->pConfigFile);
    if (level == 3)
      detail += " pHelpFile=" + Show(info->pHelpFile) +
                " pDependentFiles=" + ShowList(info->pDependentFiles) +
                " pMonitorName=" + Show(info->pMonitorName) +
                " pDefaultDataType=" + Show(info->pDefaultDataType);
  }
  bool ok = true;
  if (kxhost::FailsByFault("AddPrinterDriverA",
                           info && (level == 2 || level == 3) && info->pName ? info->pName : ""))
    ok = false;
  else if (server && *server)
    ok = Fail(ERROR_INVALID_NAME);
  else if (level != 2 && level != 3)
    ok = Fail(ERROR_INVALID_LEVEL);
  else if (!info || !info->pName || !*info->pName)
    ok = Fail(ERROR_INVALID_PARAMETER);
  else if (!IsKnownEnvironment(Text(info->pEnvironment)))
    ok = Fail(ERROR_INVALID_ENVIRONMENT);
  else if (!info->pDriverPath || !*info->pDriverPath || !info->pDataFile || !*info->pDataFile ||
           !info->pConfigFile || !*info->pConfigFile)
    ok = Fail(ERROR_INVALID_PARAMETER);
  if (ok) {
    // The dependent files are kept as the list they came in, without its
    // final zero.
    std::string dependent;
    if (level == 3)
      for (const auto& item : TextList(info->pDependentFiles)) dependent += item + '\0';
    const bool extended = level == 3;
    // Adding a driver of a name that is there replaces it, as an upgrade.
    auto statement = Store::Get().Prepare(
        "INSERT OR REPLACE INTO spooler_drivers(key, environment, name, version, driver_path, "
        "data_file, config_file, help_file, dependent_files, monitor, default_datatype) "
        "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    statement.Bind(1, NameKey(info->pName))
        .Bind(2, info->pEnvironment && *info->pEnvironment ? info->pEnvironment : kOwnEnvironment)
        .Bind(3, info->pName)
        .Bind(4, info->cVersion)
        .Bind(5, info->pDriverPath)
        .Bind(6, info->pDataFile)
        .Bind(7, info->pConfigFile);
    BindText(statement, 8, extended ? Text(info->pHelpFile) : std::nullopt);
    statement.BindBlob(9, dependent.data(), dependent.size());
    BindText(statement, 10, extended ? Text(info->pMonitorName) : std::nullopt);
    BindText(statement, 11, extended ? Text(info->pDefaultDataType) : std::nullopt);
    Store::Get().Transaction([&] { statement.Run(); });
  }
  kxhost::Journal("AddPrinterDriverA", detail, Outcome(ok));
  return ok;
}

HANDLE WINAPI AddPrinterA(LPSTR server, DWORD level, LPBYTE printer_info) {
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(printer_info);
  PRINTER_INFO_2A copy{};
  if (info && level == 2) std::memcpy(&copy, info, sizeof copy);
  const std::string detail =
      info && level == 2 ? ShowPrinterInfo(level, copy) : "level=" + std::to_string(level);
  HANDLE handle = nullptr;
  bool ok = true;
  Printer printer;
  if (kxhost::FailsByFault("AddPrinterA", copy.pPrinterName ? copy.pPrinterName : ""))
    ok = false;
  else if (server && *server)
    ok = Fail(ERROR_INVALID_NAME);
  else if (level != 2)
    ok = Fail(ERROR_INVALID_LEVEL);
  else if (!info)
    ok = Fail(ERROR_INVALID_PARAMETER);
  else
    ok = TakeInfo(copy, &printer);
  if (ok) {
    printer.status = copy.Status;
    Store::Get().Transaction([&] {
      if (PrinterByName(printer.name)) {
        ok = Fail(ERROR_PRINTER_ALREADY_EXISTS);
        return;
      }
      printer.id = 0;
      printer.id = StorePrinter(printer, (copy.Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0);
    });
    if (ok) handle = kxhost::AddHandle(std::make_unique<PrinterHandle>(printer.id, printer.name));
  }
  kxhost::Journal("AddPrinterA", detail, Outcome(ok));
  return handle;
}

namespace {

BOOL GetPrinterAsked(PrinterHandle* handle, DWORD level, LPBYTE buffer, DWORD size,
                     LPDWORD needed) {
  if (kxhost::FailsByFault("GetPrinterA", handle->name())) return FALSE;
  if (level != 2) return Fail(ERROR_INVALID_LEVEL);
  if (!needed) return Fail(ERROR_INVALID_PARAMETER);
  auto found = HandlePrinter(*handle);
  if (!found) return FALSE;
  const size_t packed = InfoPacker::Size(*found);
  *needed = static_cast<DWORD>(packed);
  if (!buffer || size < packed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  InfoPacker::Pack({*found}, buffer);
  return TRUE;
}

}  // namespace

BOOL WINAPI GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
  auto* handle = FindPrinterHandle(printer);
  if (!handle) return FALSE;
  const BOOL ok = GetPrinterAsked(handle, level, buffer, size, needed);
  std::string result = Outcome(ok);
  if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
    result += " (needs " + std::to_string(*needed) + ")";
  kxhost::Journal("GetPrinterA",
                  "pPrinterName=" + Show(handle->name()) + " level=" + std::to_string(level) +
                      " cbBuf=" + std::to_string(size),
                  result);
  return ok;
}

BOOL WINAPI SetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD command) {
  auto* handle = FindPrinterHandle(printer);
  if (!handle) return FALSE;
  PRINTER_INFO_2A copy{};
  if (buffer && level == 2) std::memcpy(&copy, buffer, sizeof copy);
  const std::string detail =
      "pPrinterName=" + Show(handle->name()) + " command=" + std::to_string(command) + " " +
      (buffer && level == 2 ? ShowPrinterInfo(level, copy) : "level=" + std::to_string(level));
  bool ok = true;
  if (kxhost::FailsByFault("SetPrinterA", handle->name()))
    ok = false;
  else if (level != 0 && level != 2)
    ok = Fail(ERROR_INVALID_LEVEL);
  else if (command > PRINTER_CONTROL_SET_STATUS)
    ok = Fail(ERROR_INVALID_PRINTER_COMMAND);
  else if ((level == 2 && !buffer) || (level == 0 && command == 0))
    ok = Fail(ERROR_INVALID_PARAMETER);
  // Read, change and store in one transaction, so that a change or a
  // deletion by another process in between is neither lost nor undone.
  if (ok)
    Store::Get().Transaction([&] {
      auto found = HandlePrinter(*handle);
      if (!found) {
        ok = false;
        return;
      }
      Printer changed = *found;
      bool make_default = false;
      if (level == 2) {
        ok = TakeInfo(copy, &changed);
        make_default = (copy.Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0;
      }
      // Pause and resume set the paused state (1); the set-status command
      // takes the status from the information (level 2) or the buffer's
      // first value (level 0).
      if (ok && command == PRINTER_CONTROL_PAUSE) changed.status |= 1;
      if (ok && command == PRINTER_CONTROL_RESUME) changed.status &= ~1u;
      if (ok && command == PRINTER_CONTROL_SET_STATUS) {
        if (level == 2)
          changed.status = copy.Status;
        else if (buffer)
          std::memcpy(&changed.status, buffer, sizeof changed.status);
      }
      if (!ok) return;
      auto other = PrinterByName(changed.name);
      if (other && other->id != changed.id) {
        ok = Fail(ERROR_PRINTER_ALREADY_EXISTS);
        return;
      }
      StorePrinter(changed, make_default);
    });
  kxhost::Journal("SetPrinterA", detail, Outcome(ok));
  return ok;
}

BOOL WINAPI EnumPrintersA(DWORD flags, LPSTR, DWORD level, LPBYTE buffer, DWORD size,
                          LPDWORD needed, LPDWORD returned) {
  if (!needed || !returned) return Fail(ERROR_INVALID_PARAMETER);
  *needed = 0;
  *returned = 0;
  if (kxhost::FailsByFault("EnumPrintersA", "")) return FALSE;
  if (level != 2) return Fail(ERROR_INVALID_LEVEL);
  const bool default_only = (flags & PRINTER_ENUM_DEFAULT) && !(flags & PRINTER_ENUM_LOCAL);
  auto printers = AllPrinters(default_only);
  size_t total = 0;
  for (const auto& printer : printers) total += InfoPacker::Size(printer);
  *needed = static_cast<DWORD>(total);
  if (total > 0 && (!buffer || size < total)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  InfoPacker::Pack(printers, buffer);
  *returned = static_cast<DWORD>(printers.size());
  return TRUE;
}
