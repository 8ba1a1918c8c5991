// The S-record decoder against a peer, in one run: this program decoding an
// image as the firmware flashing reads it (text mode, pieces of 255
// characters, DecodeSRecord on each), and srec_cat reading the same file to
// /dev/null. Both run as child processes, one after the other, several times;
// the best time of each counts, so both are timed from a warm file cache and
// both pay for starting a process.
//
//   bench_decoder --image FILE [--peer SREC_CAT] [--runs N]
//   bench_decoder --decode FILE      (the child: decodes, prints its counts)
//
// Prints name=value lines: ours_s, peer_s (wall seconds, best run), ratio
// (peer_s / ours_s), records, data_bytes, file_bytes, ours_mib_per_s.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/child.h"
#include "firmware/firmware_flashing.h"
#include "firmware/srec.h"
#include "platform/text_file.h"

namespace krt::bench {
namespace {

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr,
               "bench_decoder: %s\n"
               "usage: bench_decoder --image FILE [--peer SREC_CAT] [--runs N]\n",
               why.c_str());
  std::exit(2);
}

// The child's work: every piece of the image decoded. Prints the number of
// data records, their data bytes and the file's length; status 1 when a line
// is refused or the file cannot be read.
int Decode(const std::string& path) {
  TextFile file;
  if (!file.Open(path)) {
    std::fprintf(stderr, "bench_decoder: cannot open %s\n", path.c_str());
    return 1;
  }
  std::uint8_t record[256];
  std::string piece;
  unsigned long long records = 0;
  unsigned long long data_bytes = 0;
  unsigned sum = 0;  // keeps every decoded byte in use
  for (;;) {
    const TextFile::Read read = file.ReadPiece(kImagePieceSize, piece);
    if (read == TextFile::Read::kEnd) break;
    if (read == TextFile::Read::kError) return 1;
    std::uint32_t address = 0;
    const int n = DecodeSRecord(piece, address, record);
    if (n < 0) {
      std::fprintf(stderr, "bench_decoder: line refused at byte %llu\n",
                   static_cast<unsigned long long>(file.Position()));
      return 1;
    }
    if (n == 0) continue;
    ++records;
    data_bytes += static_cast<unsigned>(n);
    sum += address + record[0] + record[n - 1];
  }
  std::printf("records=%llu\ndata_bytes=%llu\nfile_bytes=%llu\nsum=%u\n", records, data_bytes,
              static_cast<unsigned long long>(file.Length()), sum);
  return 0;
}

struct Timed {
  double wall_s = 0;
  ChildEnd end;
};

Timed TimeChild(const std::string& program, const std::vector<std::string>& args, int out) {
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const double t0 = NowSeconds();
  const pid_t pid = Spawn(program, args, {null_fd, out >= 0 ? out : null_fd, -1});
  Timed t;
  if (pid > 0) t.end = Wait(pid);
  t.wall_s = NowSeconds() - t0;
  close(null_fd);
  return t;
}

std::string SelfPath() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  path[n] = '\0';
  return path;
}

int Compare(const std::string& image, const std::string& peer, int runs) {
  const std::string self = SelfPath();
  // The child's counts, once, into a temporary file.
  char counts_template[] = "/tmp/krt700-decoder.XXXXXX";
  const int counts_fd = mkstemp(counts_template);
  if (counts_fd < 0) return 1;
  unlink(counts_template);

  // A first read of each brings the file into the cache.
  if (TimeChild(self, {"--decode", image}, counts_fd).end.status != 0) {
    std::fprintf(stderr, "bench_decoder: our decoder refused %s\n", image.c_str());
    return 1;
  }
  if (TimeChild(peer, {image, "-o", "/dev/null", "-binary"}, -1).end.status != 0) {
    std::fprintf(stderr, "bench_decoder: %s failed on %s\n", peer.c_str(), image.c_str());
    return 1;
  }
  double ours = 1e30;
  double theirs = 1e30;
  for (int i = 0; i < runs; ++i) {
    const Timed a = TimeChild(self, {"--decode", image}, -1);
    const Timed b = TimeChild(peer, {image, "-o", "/dev/null", "-binary"}, -1);
    if (a.end.status != 0 || b.end.status != 0) return 1;
    ours = std::min(ours, a.wall_s);
    theirs = std::min(theirs, b.wall_s);
  }
  char counts[512] = {};
  const ssize_t n = pread(counts_fd, counts, sizeof counts - 1, 0);
  close(counts_fd);
  if (n > 0) counts[n] = '\0';
  unsigned long long file_bytes = 0;
  if (const char* p = std::strstr(counts, "file_bytes="))
    file_bytes = std::strtoull(p + 11, nullptr, 10);

  std::fputs(counts, stdout);
  std::printf("ours_s=%.4f\npeer_s=%.4f\nratio=%.2f\nours_mib_per_s=%.1f\n", ours, theirs,
              theirs / ours, static_cast<double>(file_bytes) / ours / (1 << 20));
  return 0;
}

}  // namespace
}  // namespace krt::bench

int main(int argc, char** argv) {
  using krt::bench::Usage;
  std::string image;
  std::string peer = "srec_cat";
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--decode") return krt::bench::Decode(value());
    if (a == "--image") {
      image = value();
    } else if (a == "--peer") {
      peer = value();
    } else if (a == "--runs") {
      runs = std::atoi(value().c_str());
    } else {
      Usage("unknown argument " + a);
    }
  }
  if (image.empty() || runs < 1) Usage("--image FILE is needed, --runs at least 1");
  // posix_spawn does not search PATH; a bare peer name is looked up here.
  if (peer.find('/') == std::string::npos) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::string found;
    for (std::size_t start = 0; start <= dirs.size();) {
      const std::size_t colon = dirs.find(':', start);
      const std::string dir =
          dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      const std::string candidate = (dir.empty() ? "." : dir) + "/" + peer;
      if (access(candidate.c_str(), X_OK) == 0) {
        found = candidate;
        break;
      }
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    if (found.empty()) Usage(peer + " is not on PATH");
    peer = found;
  }
  return krt::bench::Compare(image, peer, runs);
}
