#!/usr/bin/env python3
"""Checks what the win32 deliverables' files contain.

  check_pe.py CHECK DIRECTORY

reads KX51PNP.dll or Setup.Exe from DIRECTORY (names found regardless of
letter case, as the platform finds them) with pefile and runs one CHECK:

  library-exports    the export directory: library name, names, ordinals
  library-strings    the string table: ids, texts, language
  library-imports    the import list: the platform's own DLLs only, and
                     no function the Windows 95 family lacks
  setup-subsystem    Setup.Exe is a windows program (no console)
  setup-imports      the import list: the platform's own DLLs only

Every fault is printed on a line of its own that names the export, string
id or imported DLL at fault; the exit code is 1 when there is any.
"""
import os
import sys

import pefile

LIBRARY_FILE = "KX51PNP.dll"
SETUP_FILE = "Setup.Exe"

# Ordinals 1 to 6 in the sorted order of the names. The free function
# void CleanPnpKeys(void) appears only under its decorated name.
EXPORTS = [
    "?CleanPnpKeys@@YAXXZ",
    "CompletePrinterInstallation",
    "SchedulePrinterInstallation",
    "StartPrinterInstallation",
    "UninstInitialize",
    "UninstUnInitialize",
]

LANGUAGE_KOREAN = 1042
STRINGS = {
    303: "Program Manager",
    320: "No printer Model name in DevNode?",
    321: "Internal Failure in Zvk_Install!",
    348: "Failed to register second phase in Shell's section of the registry.",
    349: "Corrupted DevNode or Failure to clean up Shell section of the registry.",
    350: "Internal Failure in Delayed_Zvk_Install!",
}

# DLLs that come with the platform itself. msvcrt.dll is the system's C
# runtime (the Windows 95 family has it from OSR2 on); the universal CRT
# (ucrtbase.dll and its api-ms-win-crt-* sets) and the compiler's own
# runtime DLLs are not part of it.
PLATFORM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "gdi32.dll", "winspool.drv",
                 "msvcrt.dll"}

# KERNEL32 functions that the Windows 95 family lacks but compiler runtimes
# like to import. The loader refuses a file with an import it cannot
# resolve, so one such import keeps the file from loading at all.
MISSING_ON_WINDOWS_95 = {
    "AcquireSRWLockExclusive", "AddVectoredExceptionHandler", "CreateEventExA",
    "CreateEventExW", "FlsAlloc", "FlsFree", "FlsGetValue", "FlsSetValue", "GetFileSizeEx",
    "GetHandleInformation", "GetSystemTimePreciseAsFileTime", "GetTickCount64",
    "InitOnceExecuteOnce", "InitializeConditionVariable", "InitializeCriticalSectionAndSpinCount",
    "IsDebuggerPresent", "ReleaseSRWLockExclusive", "RemoveVectoredExceptionHandler",
    "SetFilePointerEx", "SetProcessAffinityMask", "SleepConditionVariableCS", "SwitchToThread",
    "TryEnterCriticalSection", "WakeAllConditionVariable", "WakeConditionVariable",
}

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_DLL = 0x2000
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2


class Check:
    def __init__(self):
        self.faults = []

    def fault(self, text):
        self.faults.append(text)

    def expect(self, condition, text):
        if not condition:
            self.fault(text)


def find_file(directory, name):
    """The file of that name in directory, compared regardless of case."""
    if os.path.isdir(directory):
        for entry in sorted(os.listdir(directory)):
            if entry.lower() == name.lower():
                return os.path.join(directory, entry)
    return None


def load(directory, name, check):
    path = find_file(directory, name)
    if path is None:
        check.fault(f"{name} is missing from {directory}: build the win32 preset first "
                    f"(cmake --preset win32 && cmake --build --preset win32)")
        return None
    print(f"file: {path}")
    pe = pefile.PE(path)
    check.expect(pe.FILE_HEADER.Machine == IMAGE_FILE_MACHINE_I386,
                 f"{name}: machine 0x{pe.FILE_HEADER.Machine:x}, expected i386 (0x14c)")
    return pe


def check_library_exports(pe, check):
    check.expect(pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL, "KX51PNP.dll is not a DLL")
    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if exports is None:
        check.fault("KX51PNP.dll has no export directory")
        return
    name = exports.name.decode("latin-1") if exports.name else ""
    check.expect(name == LIBRARY_FILE,
                 f"export directory names the library {name!r}, expected {LIBRARY_FILE!r}")
    check.expect(exports.struct.NumberOfFunctions == len(EXPORTS),
                 f"{exports.struct.NumberOfFunctions} exported functions, expected {len(EXPORTS)}")
    found = {}
    for symbol in exports.symbols:
        if symbol.name is None:
            check.fault(f"ordinal {symbol.ordinal} is exported without a name")
            continue
        found[symbol.name.decode("latin-1")] = symbol.ordinal
    for ordinal, export in enumerate(EXPORTS, start=1):
        if export not in found:
            check.fault(f"export {export!r} is missing")
        elif found[export] != ordinal:
            check.fault(f"export {export!r} has ordinal {found[export]}, expected {ordinal}")
    for export in sorted(set(found) - set(EXPORTS)):
        check.fault(f"export {export!r} (ordinal {found[export]}) is not one of the six")
    for export, ordinal in sorted(found.items(), key=lambda item: item[1]):
        print(f"export {ordinal}: {export}")


def string_table(pe, check):
    """{(id, language): text} from the RT_STRING blocks of 16 strings each."""
    table = {}
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if directory is None:
        return table
    for kind in directory.entries:
        if kind.id != pefile.RESOURCE_TYPE["RT_STRING"]:
            continue
        for block in kind.directory.entries:
            for language in block.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                offset = 0
                for index in range(16):
                    if offset + 2 > len(data):
                        check.fault(f"string block {block.id} (language {language.id}) is cut short")
                        break
                    length = int.from_bytes(data[offset:offset + 2], "little")
                    text = data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
                    offset += 2 + 2 * length
                    if length:
                        table[((block.id - 1) * 16 + index, language.id)] = text
    return table


def check_library_strings(pe, check):
    table = string_table(pe, check)
    for (string_id, language), text in sorted(table.items()):
        print(f"string {string_id} (language {language}): {text!r}")
    for string_id, text in STRINGS.items():
        found = table.get((string_id, LANGUAGE_KOREAN))
        if found is None:
            check.fault(f"string {string_id} is missing in language {LANGUAGE_KOREAN}")
        elif found != text:
            check.fault(f"string {string_id} reads {found!r}, expected {text!r}")
    for string_id, language in sorted(table):
        if language != LANGUAGE_KOREAN:
            check.fault(f"string {string_id} is in language {language}, expected only "
                        f"{LANGUAGE_KOREAN}")
        elif string_id not in STRINGS:
            check.fault(f"string {string_id} is not one of the table's ids")


def check_imports(pe, name, check):
    imports = []
    for attribute in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        imports += getattr(pe, attribute, [])
    for entry in imports:
        dll = entry.dll.decode("latin-1")
        functions = sorted(i.name.decode("latin-1") if i.name else f"#{i.ordinal}"
                           for i in entry.imports)
        print(f"import {dll}: {' '.join(functions)}")
        check.expect(dll.lower() in PLATFORM_DLLS,
                     f"{name} imports {dll}, which is not one of the platform's own DLLs")
        if dll.lower() == "kernel32.dll":
            for function in sorted(set(functions) & MISSING_ON_WINDOWS_95):
                check.fault(f"{name} imports {dll} {function}, which the Windows 95 family lacks")


def check_setup_subsystem(pe, check):
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    check.expect(subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI,
                 f"Setup.Exe has subsystem {subsystem}, expected "
                 f"{IMAGE_SUBSYSTEM_WINDOWS_GUI} (windows)")
    check.expect(not pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL, "Setup.Exe is a DLL")


CHECKS = {
    "library-exports": (LIBRARY_FILE, check_library_exports),
    "library-strings": (LIBRARY_FILE, check_library_strings),
    "library-imports": (LIBRARY_FILE, lambda pe, check: check_imports(pe, LIBRARY_FILE, check)),
    "setup-subsystem": (SETUP_FILE, check_setup_subsystem),
    "setup-imports": (SETUP_FILE, lambda pe, check: check_imports(pe, SETUP_FILE, check)),
}


def main(argv):
    if len(argv) != 3 or argv[1] not in CHECKS:
        print(__doc__, file=sys.stderr)
        return 2
    file_name, run = CHECKS[argv[1]]
    check = Check()
    pe = load(argv[2], file_name, check)
    if pe is not None:
        run(pe, check)
    for fault in check.faults:
        print(f"FAIL: {fault}")
    if not check.faults:
        print(f"ok: {argv[1]}")
    return 1 if check.faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
