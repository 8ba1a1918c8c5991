#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace krt {

TextFile::TextFile(std::size_t buffer_size) : buffer_(std::max<std::size_t>(buffer_size, 2)) {}

TextFile::~TextFile() { Close(); }

bool TextFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return false;
  // O_NONBLOCK keeps the open of a FIFO without a writer from blocking; such a
  // file is refused below anyway.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  open_ = true;
  length_ = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  return true;
}

void TextFile::OpenMemory(std::string data, std::uint64_t read_error_at) {
  Close();
  memory_ = std::move(data);
  read_error_at_ = read_error_at;
  length_ = memory_.size();
  open_ = true;
}

void TextFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  open_ = false;
  memory_.clear();
  memory_offset_ = 0;
  read_error_at_ = kNoReadError;
  begin_ = end_ = 0;
  length_ = position_ = 0;
  at_end_ = failed_ = false;
}

TextFile::Fill TextFile::Refill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t room = buffer_.size() - end_;
  if (fd_ >= 0) {
    ssize_t n;
    do {
      n = read(fd_, buffer_.data() + end_, room);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fill::kError;
    if (n == 0) {
      at_end_ = true;
      return Fill::kEnd;
    }
    end_ += static_cast<std::size_t>(n);
    return Fill::kData;
  }
  if (memory_offset_ >= read_error_at_) return Fill::kError;
  const std::uint64_t limit = std::min<std::uint64_t>(memory_.size(), read_error_at_);
  const std::size_t n =
      static_cast<std::size_t>(std::min<std::uint64_t>(room, limit - memory_offset_));
  if (n == 0) {
    if (limit < memory_.size()) return Fill::kError;
    at_end_ = true;
    return Fill::kEnd;
  }
  std::memcpy(buffer_.data() + end_, memory_.data() + memory_offset_, n);
  memory_offset_ += n;
  end_ += n;
  return Fill::kData;
}

TextFile::Read TextFile::Fail(std::string& piece) {
  failed_ = true;
  piece.clear();
  return Read::kError;
}

TextFile::Read TextFile::ReadPiece(std::size_t max_chars, std::string& piece) {
  piece.clear();
  if (!open_ || failed_) return Read::kError;
  if (max_chars == 0) max_chars = 1;
  while (piece.size() < max_chars) {
    if (begin_ == end_) {
      if (at_end_) break;
      const Fill fill = Refill();
      if (fill == Fill::kError) return Fail(piece);
      if (fill == Fill::kEnd) break;
      continue;
    }
    // Copy the run of ordinary characters in one go.
    const char* start = buffer_.data() + begin_;
    const std::size_t n = std::min(end_ - begin_, max_chars - piece.size());
    std::size_t i = 0;
    while (i < n && start[i] != '\n' && start[i] != '\r') ++i;
    piece.append(start, i);
    begin_ += i;
    position_ += i;
    if (i == n) continue;
    if (start[i] == '\n') {
      piece.push_back('\n');
      ++begin_;
      ++position_;
      return Read::kPiece;
    }
    // A carriage return: the byte after it decides, so it must be in the
    // buffer (or the file must have ended).
    if (begin_ + 1 == end_ && !at_end_) {
      if (Refill() == Fill::kError) return Fail(piece);
    }
    if (begin_ + 1 < end_ && buffer_[begin_ + 1] == '\n') {
      piece.push_back('\n');
      begin_ += 2;
      position_ += 2;
      return Read::kPiece;
    }
    piece.push_back('\r');
    ++begin_;
    ++position_;
  }
  return piece.empty() ? Read::kEnd : Read::kPiece;
}

}  // namespace krt
