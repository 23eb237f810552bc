// What the installer relies on of the registry, on every platform.
#include <cstring>
#include <string>

#include "conformance.h"

namespace {

constexpr const char* kBase = "Software\\KX51Conformance";

// A scratch key below HKEY_LOCAL_MACHINE, removed with all beneath it.
class ScratchKey {
 public:
  ScratchKey() {
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase);
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kBase, &key_), ERROR_SUCCESS);
  }
  ~ScratchKey() {
    RegCloseKey(key_);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kBase);
  }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::string Path(const char* below) { return std::string(kBase) + "\\" + below; }

class RegistryConformance : public ::testing::Test {
 protected:
  kxtest::ConformanceMachine machine_;
  ScratchKey scratch_;
};

TEST_F(RegistryConformance, OpenFailsForAMissingKeyAndCreatesNothing) {
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, Path("Missing\\Deeper").c_str(), &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, Path("Missing").c_str(), &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, CreateMakesMissingParentsAndOpensExistingKeysUntouched) {
  HKEY deep = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, Path("A\\B\\C").c_str(), &deep), ERROR_SUCCESS);
  const BYTE data[] = {1, 2, 3};
  ASSERT_EQ(RegSetValueExA(deep, "Kept", 0, REG_BINARY, data, sizeof data), ERROR_SUCCESS);
  RegCloseKey(deep);

  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, Path("a\\b\\c").c_str(), &again), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(again, "KEPT", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(size, 3u);
  RegCloseKey(again);
}

TEST_F(RegistryConformance, NamesMatchRegardlessOfCase) {
  HKEY upper = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &upper), ERROR_SUCCESS);
  RegCloseKey(upper);
  const char text[] = "KX51";
  ASSERT_EQ(RegSetValueExA(scratch_.get(), "Model", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           sizeof text),
            ERROR_SUCCESS);
  HKEY lower = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\kx51conformance", &lower), ERROR_SUCCESS);
  char buffer[16] = {};
  DWORD size = sizeof buffer;
  EXPECT_EQ(
      RegQueryValueExA(lower, "MODEL", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "KX51");
  EXPECT_EQ(RegDeleteValueA(lower, "model"), ERROR_SUCCESS);
  RegCloseKey(lower);
}

struct ValueCase {
  const char* name;
  DWORD type;
  std::string data;
  DWORD count;         // the size handed over; the byte after it is data[count]
  std::string stored;  // what a query gives back
};

TEST_F(RegistryConformance, SetStoresTheTypeAndBytesGiven) {
  using namespace std::string_literals;
  const std::string big(70000, '\x5A');
  const ValueCase cases[] = {
      {"Text", REG_SZ, "abc\0"s, 4, "abc\0"s},
      {"Expand", REG_EXPAND_SZ, "%x%\0"s, 4, "%x%\0"s},
      // Text cut short of more text is kept as it was given. (A count that
      // leaves out a zero right behind the text is not asked here: the NT
      // family then reads past the count and stores the zero too.)
      {"NoTerminator", REG_SZ, "abcd", 3, "abc"},
      {"Empty", REG_SZ, "\0"s, 1, "\0"s},
      {"Zero", REG_BINARY, "", 0, ""},
      {"BinaryZeroLeftOut", REG_BINARY, "ab\0"s, 2, "ab"},
      {"Flags", REG_BINARY, std::string(4, '\0'), 4, std::string(4, '\0')},
      {"Big", REG_BINARY, big, static_cast<DWORD>(big.size()), big},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(RegSetValueExA(scratch_.get(), row.name, 0, row.type,
                             reinterpret_cast<const BYTE*>(row.data.data()), row.count),
              ERROR_SUCCESS);
    DWORD type = 0xDEAD, size = 0;
    ASSERT_EQ(RegQueryValueExA(scratch_.get(), row.name, nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, row.type);
    ASSERT_EQ(size, row.stored.size());
    std::string read(size + 8, '\x7F');
    DWORD read_size = size;
    EXPECT_EQ(RegQueryValueExA(scratch_.get(), row.name, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(read.data()), &read_size),
              ERROR_SUCCESS);
    EXPECT_EQ(read_size, size);
    EXPECT_EQ(read.substr(0, size), row.stored);
    EXPECT_EQ(read[size], '\x7F') << "wrote past the data";
  }
}

TEST_F(RegistryConformance, SetReplacesAnEarlierValueOfAnyType) {
  const char text[] = "a much longer text than four bytes";
  ASSERT_EQ(RegSetValueExA(scratch_.get(), "ConfigFlags", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  const BYTE zeros[4] = {};
  ASSERT_EQ(RegSetValueExA(scratch_.get(), "ConfigFlags", 0, REG_BINARY, zeros, 4), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(scratch_.get(), "ConfigFlags", nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(size, 4u);
}

TEST_F(RegistryConformance, QueryWithASmallBufferGivesMoreDataAndTheSize) {
  const char text[] = "twelve bytes";
  ASSERT_EQ(RegSetValueExA(scratch_.get(), "V", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           sizeof text),
            ERROR_SUCCESS);
  BYTE buffer[4];
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(scratch_.get(), "V", nullptr, nullptr, buffer, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
}

TEST_F(RegistryConformance, MissingValuesAreNotFound) {
  DWORD type = 0xDEAD, size = 0xDEAD;
  EXPECT_EQ(RegQueryValueExA(scratch_.get(), "Absent", nullptr, &type, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(scratch_.get(), "Absent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, DeleteRegistryTreeRemovesEverythingBeneath) {
  HKEY leaf = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, Path("Enum\\LPTENUM\\DEV\\0001\\X").c_str(), &leaf),
            ERROR_SUCCESS);
  const BYTE one = 1;
  ASSERT_EQ(RegSetValueExA(leaf, "V", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
  RegCloseKey(leaf);
  HKEY sibling = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, Path("Enum\\LPTENUM\\Other").c_str(), &sibling),
            ERROR_SUCCESS);
  RegCloseKey(sibling);

  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, Path("Enum\\LPTENUM").c_str(), &parent), ERROR_SUCCESS);
  EXPECT_EQ(DeleteRegistryTree(parent, "dev"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteRegistryTree(parent, "dev"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(parent);

  HKEY probe = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, Path("Enum\\LPTENUM\\DEV").c_str(), &probe),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, Path("Enum\\LPTENUM\\Other").c_str(), &probe),
            ERROR_SUCCESS);
  RegCloseKey(probe);
}

TEST_F(RegistryConformance, DeletingALeafKeyWorksEverywhere) {
  HKEY leaf = nullptr;
  ASSERT_EQ(RegCreateKeyA(scratch_.get(), "Leaf", &leaf), ERROR_SUCCESS);
  RegCloseKey(leaf);
  EXPECT_EQ(RegDeleteKeyA(scratch_.get(), "Leaf"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(scratch_.get(), "Leaf"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, EnumeratesSubkeysAndValues) {
  for (const char* name : {"One", "Two"}) {
    HKEY child = nullptr;
    ASSERT_EQ(RegCreateKeyA(scratch_.get(), name, &child), ERROR_SUCCESS);
    RegCloseKey(child);
  }
  char name[MAX_PATH];
  EXPECT_EQ(RegEnumKeyA(scratch_.get(), 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_EQ(RegEnumKeyA(scratch_.get(), 1, name, sizeof name), ERROR_SUCCESS);
  EXPECT_EQ(RegEnumKeyA(scratch_.get(), 2, name, sizeof name), ERROR_NO_MORE_ITEMS);

  const BYTE data[] = {7};
  ASSERT_EQ(RegSetValueExA(scratch_.get(), "Value", 0, REG_BINARY, data, 1), ERROR_SUCCESS);
  DWORD name_size = sizeof name, type = 0, data_size = 0;
  EXPECT_EQ(RegEnumValueA(scratch_.get(), 0, name, &name_size, nullptr, &type, nullptr, &data_size),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Value");
  EXPECT_EQ(name_size, 5u);
  EXPECT_EQ(data_size, 1u);
  name_size = sizeof name;
  EXPECT_EQ(RegEnumValueA(scratch_.get(), 1, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryConformance, ClosedHandlesAreInvalid) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kBase, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

}  // namespace
