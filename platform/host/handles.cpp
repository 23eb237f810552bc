// The process's handle table: kernel objects (events, files, processes,
// printers) behind HANDLE values, as the platform hands them out.
#include <map>
#include <mutex>

#include "host.h"

namespace kxhost {
namespace {

struct Table {
  std::mutex mutex;
  std::map<uintptr_t, std::unique_ptr<KernelObject>> objects;
  uintptr_t next = 0x40;
};

Table& TheTable() {
  static Table table;
  return table;
}

}  // namespace

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

HANDLE AddHandle(std::unique_ptr<KernelObject> object) {
  auto& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

KernelObject* FindHandle(HANDLE handle) {
  auto& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == table.objects.end() ? nullptr : it->second.get();
}

bool RemoveHandle(HANDLE handle) {
  std::unique_ptr<KernelObject> object;
  {
    auto& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) return false;
    object = std::move(it->second);
    table.objects.erase(it);
  }
  return true;  // released here, outside the table's lock
}

}  // namespace kxhost

BOOL WINAPI CloseHandle(HANDLE handle) {
  if (!kxhost::RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
