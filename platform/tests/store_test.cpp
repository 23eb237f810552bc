// The machine store: a read that one thread leaves open must not make its
// own writes wait for ever, nor stop the writes of the process's other
// threads.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "host.h"
#include "temp_machine.h"

namespace {

class MachineStore : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& store = kxhost::Store::Get();
    for (const char* name : {"a", "b"}) store.SetSetting(name, "1");
  }

  // Another process's connection writes, so that an open read of this
  // process is on a snapshot that can never take the write lock.
  void WriteFromAnotherConnection() {
    kxhost::Store other(machine_.dir() / "machine.db");
    other.Transaction([&] { other.SetSetting("other", std::to_string(++other_writes_)); });
  }

  int other_writes_ = 0;

  kxtest::TempMachine machine_;
};

TEST_F(MachineStore, AWriteDuringAReadOfTheSameThreadIsRefused) {
  struct Case {
    const char* name;
    std::function<void(kxhost::Store&)> write;
  };
  const Case cases[] = {
      {"transaction", [](kxhost::Store& store) { store.Transaction([] {}); }},
      {"write outside a transaction", [](kxhost::Store& store) { store.SetSetting("c", "1"); }},
  };
  for (const auto& row : cases) {
    auto& store = kxhost::Store::Get();
    auto read = store.Prepare("SELECT name FROM settings");
    ASSERT_TRUE(read.Step()) << row.name;
    WriteFromAnotherConnection();
    EXPECT_THROW(row.write(store), std::logic_error) << row.name;
  }
  // Once the reads have ended, writes go through.
  kxhost::Store::Get().SetSetting("c", "2");
  EXPECT_EQ(kxhost::Store::Get().Setting("c"), "2");
}

TEST_F(MachineStore, AReadOfAnotherThreadDoesNotRefuseATransaction) {
  std::mutex mutex;
  std::condition_variable changed;
  bool reading = false, written = false;
  std::thread reader([&] {
    auto read = kxhost::Store::Get().Prepare("SELECT name FROM settings");
    EXPECT_TRUE(read.Step());
    std::unique_lock<std::mutex> lock(mutex);
    reading = true;
    changed.notify_all();
    changed.wait(lock, [&] { return written; });
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return reading; });
  }
  auto& store = kxhost::Store::Get();
  EXPECT_NO_THROW(store.Transaction([&] { store.SetSetting("c", "1"); }));
  {
    std::lock_guard<std::mutex> lock(mutex);
    written = true;
    changed.notify_all();
  }
  reader.join();
  EXPECT_EQ(store.Setting("c"), "1");
}

TEST_F(MachineStore, MovedStatementsStayKnownToTheirThread) {
  auto& store = kxhost::Store::Get();
  auto first = store.Prepare("SELECT name FROM settings");
  kxhost::Statement moved(std::move(first));
  ASSERT_TRUE(moved.Step());
  EXPECT_EQ(kxhost::Statement::OpenReadOfThisThread(store.db(), nullptr), moved.get());
  EXPECT_EQ(kxhost::Statement::OpenReadOfThisThread(store.db(), &moved), nullptr);
}

TEST_F(MachineStore, AnUnreadableCodePageSettingLeavesTheDefault) {
  kxhost::Store::Get().SetSetting("codepage", "none");
  EXPECT_EQ(GetACP(), 1252u);
  kxhost::Store::Get().SetSetting("codepage", "932");
  EXPECT_EQ(GetACP(), 932u);
}

}  // namespace
