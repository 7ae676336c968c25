// CQmsTextFile: a text file read line by line and appended to, always in
// binary: LF and CR LF end a line (the line is handed out without them), a
// 0x1A byte ends the file, and nothing is translated. Reads and appends
// keep positions of their own, so a file being read can be appended to
// without disturbing the reading; appends are buffered and reach the file at
// Flush, Close or the next read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CQmsTextFile {
 public:
  static constexpr size_t kBlock = 1 << 16;

  CQmsTextFile() = default;
  ~CQmsTextFile();
  CQmsTextFile(const CQmsTextFile&) = delete;
  CQmsTextFile& operator=(const CQmsTextFile&) = delete;

  // An existing file (found ignoring case), for reading or for reading and
  // appending; false (errno set) when it does not open.
  bool Open(const std::string& path, bool write);
  // A new or truncated file for reading and appending.
  bool Create(const std::string& path);
  // False when pending appends could not be written.
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Back to the first byte for reading.
  void Rewind();
  // The next line into line; false (line empty) at the end of the file or
  // when reading fails.
  bool ReadLine(std::string& line);
  // Bytes taken by ReadLine since the start, line ends included.
  uint64_t Consumed() const { return consumed_; }

  // Appends at the end of the file.
  bool Append(const char* data, size_t size);
  bool Append(const std::string& text) { return Append(text.data(), text.size()); }
  bool Flush();
  // The size the file has with the pending appends.
  int64_t Size() const { return end_ + int64_t(out_.size()); }

 private:
  bool Fill();

  int fd_ = -1;
  std::unique_ptr<char[]> in_;
  size_t begin_ = 0;
  size_t filled_ = 0;
  int64_t readAt_ = 0;  // file offset of the byte after the buffered ones
  uint64_t consumed_ = 0;
  bool ended_ = false;
  std::string out_;
  int64_t end_ = 0;  // size of the file on disk
  bool failed_ = false;
};
