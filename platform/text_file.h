// Buffered reading of a text file a piece of a line at a time, as the image
// and fuse file readers need it.
//
// Text mode: a carriage return directly followed by a line feed is delivered
// as the line feed alone, also when the two fall on the boundary of the
// buffer; a carriage return before anything else stays as it is. A piece is
// the text up to and including the next line feed, or `max_chars` characters
// when the line is longer (the rest of the line then comes with the next
// pieces). Length and read position are in bytes of the file itself, carriage
// returns included, so they serve as a progress measure.
//
// A read error is reported as kError, never as the end of the file; after it
// every further read reports kError too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace krt {

class TextFile {
 public:
  static constexpr std::size_t kDefaultBufferSize = 8192;
  static constexpr std::uint64_t kNoReadError = UINT64_MAX;

  enum class Read {
    kPiece,  // `piece` holds the next piece (never empty)
    kEnd,    // the end of the file; `piece` is empty
    kError,  // the file could not be read (or is not open); `piece` is empty
  };

  // `buffer_size` bytes are read from the file at a time (at least 2; the
  // default keeps it to one read call per 8 KiB). Tests and fuzz targets use
  // small buffers to put carriage returns on buffer boundaries.
  explicit TextFile(std::size_t buffer_size = kDefaultBufferSize);
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Opens a regular file for reading. False for an empty name, a missing or
  // unreadable file, a directory and anything else that is not a regular file
  // (a FIFO or a device would block or never end). Closes a file opened before.
  bool Open(const std::string& path);

  // Reads `data` as if it were the file's contents (the text is copied). When
  // `read_error_at` is given, the bytes before that offset are delivered and
  // the read that would go past it fails like a failing disk.
  void OpenMemory(std::string data, std::uint64_t read_error_at = kNoReadError);

  bool IsOpen() const { return open_; }

  // The next piece of at most `max_chars` characters (0 counts as 1).
  Read ReadPiece(std::size_t max_chars, std::string& piece);

  // The file's length in bytes, taken once when it was opened.
  std::uint64_t Length() const { return length_; }

  // Bytes of the file consumed by the pieces read so far.
  std::uint64_t Position() const { return position_; }

  void Close();

 private:
  enum class Fill { kData, kEnd, kError };

  // Moves the unconsumed bytes to the front of the buffer and reads more
  // behind them.
  Fill Refill();
  Read Fail(std::string& piece);

  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unconsumed byte in buffer_
  std::size_t end_ = 0;    // one past the last byte read into buffer_
  bool open_ = false;
  int fd_ = -1;  // -1 when reading from memory
  std::string memory_;
  std::uint64_t memory_offset_ = 0;
  std::uint64_t read_error_at_ = kNoReadError;
  std::uint64_t length_ = 0;
  std::uint64_t position_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};

}  // namespace krt
