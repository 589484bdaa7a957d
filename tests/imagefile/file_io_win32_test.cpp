// SPDX-License-Identifier: BSD-2-Clause
// The file functions on Windows: UTF-8 names of any script, replacement only once the new file
// is complete, and the old file kept when it cannot be replaced.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "imagefile/imagefile.h"
#include "imagefile/utf16.h"

namespace varnic::imagefile {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class WindowsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / fs::path(L"varnic-\u00fc-\u65e5\u672c-" + std::to_wstring(GetCurrentProcessId()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string utf8(const wchar_t* name) const { return narrow((dir_ / name).wstring()); }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }
  fs::path dir_;
};

TEST_F(WindowsFileTest, AnyNameIsWrittenReplacedAndReadBack) {
  const std::string path = utf8(L"Bild \u00e4 \u5199\u771f \U0001F600.cod");
  ASSERT_EQ(write_file_atomically(path, Bytes{1, 2, 3}), FileStatus::kOk);
  ASSERT_EQ(write_file_atomically(path, Bytes{4, 5}), FileStatus::kOk);
  Bytes back;
  ASSERT_EQ(read_whole_file(path, back, 100), FileStatus::kOk);
  EXPECT_EQ(back, (Bytes{4, 5}));
  EXPECT_EQ(read_whole_file(path, back, 1), FileStatus::kFileTooLarge);
  EXPECT_EQ(entries(), 1u);  // no temporary file left
}

TEST_F(WindowsFileTest, AFileThatCannotBeReplacedIsKeptWithNoTemporaryLeft) {
  const std::string path = utf8(L"busy.cod");
  ASSERT_EQ(write_file_atomically(path, Bytes{'o', 'l', 'd'}), FileStatus::kOk);
  // Open without sharing, as another program holding the file would.
  HANDLE busy = CreateFileW(widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  EXPECT_EQ(write_file_atomically(path, Bytes{'n', 'e', 'w'}), FileStatus::kCannotWrite);
  CloseHandle(busy);
  Bytes back;
  ASSERT_EQ(read_whole_file(path, back, 100), FileStatus::kOk);
  EXPECT_EQ(back, (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(entries(), 1u);

  EXPECT_EQ(write_file_atomically(narrow(dir_.wstring()), Bytes{1}), FileStatus::kCannotOpen);
  EXPECT_EQ(write_file_atomically(utf8(L"missing\\x.cod"), Bytes{1}), FileStatus::kCannotOpen);
  EXPECT_EQ(read_whole_file(narrow(dir_.wstring()), back, 100), FileStatus::kCannotOpen);
  EXPECT_EQ(read_whole_file("NUL", back, 100), FileStatus::kCannotOpen);
}

// Another program makes the output while ours is being written: without leave to replace it,
// the final move refuses rather than overwrite what the other made.
TEST_F(WindowsFileTest, AnOutputMadeMeanwhileIsNotReplacedWithoutLeave) {
  const std::string path = utf8(L"raced.cod");
  const std::wstring wide = widen(path);
  const Bytes big(std::size_t{16} << 20, 7);  // long enough to write that the other comes first
  bool raced = false;
  for (int round = 0; round < 5 && !raced; ++round) {
    DeleteFileW(wide.c_str());
    std::atomic<bool> made{false};
    std::atomic<bool> done{false};
    std::thread other([&] {
      while (entries() == 0) {  // the temporary file: the check is past
        if (done) return;
        std::this_thread::yield();
      }
      HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) return;  // ours was already in place: no race this round
      DWORD written = 0;
      made = WriteFile(h, "old", 3, &written, nullptr) != 0;
      CloseHandle(h);
    });
    const FileStatus status = write_file_atomically(path, big, Overwrite::kRefuse);
    done = true;
    other.join();
    if (!made) continue;
    raced = true;
    EXPECT_EQ(status, FileStatus::kCannotWrite);
    Bytes back;
    ASSERT_EQ(read_whole_file(path, back, big.size()), FileStatus::kOk);
    EXPECT_EQ(back, (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(entries(), 1u);
  }
  EXPECT_TRUE(raced) << "the other writer never came first";
}

}  // namespace
}  // namespace varnic::imagefile
