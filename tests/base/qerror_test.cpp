#include "base/qerror.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

struct CodeCase {
  int32_t code;
  const char* message;
};

TEST(QErrorTest, TableCodesGiveTheirTexts) {
  const CodeCase cases[] = {
      {100, ""},
      {101, "Unknown error."},
      {102, "Invalid file signature."},
      {103, "Internal table overflow."},
      {104, "Insufficient memory."},
      {105, "File not found."},
      {106, "Invalid data passed to function."},
      {107, "File is out of date."},
      {109, "Cannot match an address and match a geocode in the same Trellux call."},
      {110, "No centerline found."},
      {111, "Invalid checksum or file size."},
      {108, "Unknown error code."},
      {112, "Unknown error code."},
      {4000, "Unknown error code."},
  };
  for (const auto& c : cases) {
    QError e;
    EXPECT_EQ(e.Record(c.code, "d", "..\\src\\qfile", 12), c.code);
    EXPECT_EQ(e.Code(), c.code);
    EXPECT_STREQ(e.Message(), c.message) << c.code;
    EXPECT_STREQ(e.Detail(), "d");
    EXPECT_STREQ(e.Location(), "Error recorded in: ..\\src\\qfile, (12).");
  }
}

TEST(QErrorTest, ErrnoCodesTakeTheTextOfTheCurrentErrno) {
  QError e;
  errno = 2;
  e.Record(5, nullptr, "..\\src\\qio", 1);
  EXPECT_EQ(e.Code(), 5);
  EXPECT_STREQ(e.Message(), "No such file or directory");
  EXPECT_STREQ(e.Detail(), "");
  errno = 28;
  e.Record(-7, "x", "s", 2);
  EXPECT_EQ(e.Code(), -7);
  EXPECT_STREQ(e.Message(), "No space left on device");
}

TEST(QErrorTest, RecordingMinusOneClears) {
  QError e(7);
  e.Record(102, "detail", "src", 3);
  e.Record(-1, "ignored", "src", 4);
  EXPECT_EQ(e.Code(), -1);
  EXPECT_FALSE(e.HasError());
  EXPECT_STREQ(e.Message(), "");
  EXPECT_STREQ(e.Detail(), "");
  EXPECT_STREQ(e.Location(), "");
  EXPECT_EQ(e.Reserved(), 0u);
  EXPECT_EQ(e.Flag(), 7);  // the flag is the owner's, not the record's
}

TEST(QErrorTest, LongTextsAreCutToTheirFields) {
  QError e;
  std::string detail(300, 'x');
  std::string source(300, 's');
  e.Record(101, detail.c_str(), source.c_str(), 99999);
  EXPECT_EQ(std::strlen(e.Detail()), 255u);
  EXPECT_EQ(std::string(e.Detail()), detail.substr(0, 255));
  EXPECT_EQ(std::strlen(e.Location()), 127u);
}

TEST(QErrorTest, CopiesAreWhole) {
  QError e(3);
  e.Record(111, "file.gsa", "..\\src\\pagefile", 40);
  QError copy = e;
  EXPECT_EQ(copy.Code(), 111);
  EXPECT_STREQ(copy.Message(), e.Message());
  EXPECT_STREQ(copy.Detail(), "file.gsa");
  EXPECT_STREQ(copy.Location(), e.Location());
  EXPECT_EQ(copy.Flag(), 3);
}

TEST(QErrorTest, QErrorExThrowsACopyOfItself) {
  QErrorEx e;
  QError& base = e;
  try {
    base.Record(104, "no room", "..\\src\\recmgr", 77);
    FAIL() << "Record returned";
  } catch (const QErrorEx& thrown) {
    EXPECT_EQ(thrown.Code(), 104);
    EXPECT_STREQ(thrown.Detail(), "no room");
  }
  EXPECT_EQ(e.Code(), 104);  // the record itself holds the error too
}

TEST(QErrorTest, StrFormatIsBounded) {
  char small[8];
  EXPECT_EQ(StrFormat(small, sizeof small, "%s-%d", "abcdef", 42), 9);
  EXPECT_STREQ(small, "abcdef-");
}

TEST(CqmsSynchronizationTest, DepthAndStatus) {
  CqmsSynchronization lock;
  EXPECT_FALSE(lock.Unlock());  // never initialised
  EXPECT_TRUE(lock.Lock());
  EXPECT_TRUE(lock.Lock());
  EXPECT_EQ(lock.Depth(), 2u);
  EXPECT_TRUE(lock.Unlock());
  EXPECT_EQ(lock.Depth(), 1u);
  EXPECT_TRUE(lock.Unlock());
  EXPECT_EQ(lock.Status(), 0);
  EXPECT_FALSE(lock.Unlock());
  EXPECT_EQ(lock.Status(), CqmsSynchronization::kStatusNotHeld);
}

TEST(CqmsSynchronizationTest, ExcludesOtherThreads) {
  CqmsSynchronization lock;
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      lock.Lock();
      lock.Lock();
      ++counter;
      lock.Unlock();
      lock.Unlock();
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 20000);
}

}  // namespace
