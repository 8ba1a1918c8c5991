// The in-process figures: the S-record decoder's throughput, the frame codec,
// the transaction rate over a pseudo-terminal against an unpaced simulated
// probe, and the Connect time against a paced one.
//
//   bench_micro [Google Benchmark flags] [--image=FILE]
//
// FILE is an S-record image (bench.sh passes an 8 MiB objcopy-made one); it
// is read as the firmware flashing reads it, in text mode and in pieces of
// 255 characters. Without it the decoder runs over 8 MiB of S3 records of 16
// data bytes made in memory.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "firmware/firmware_flashing.h"
#include "firmware/srec.h"
#include "link/frame_codec.h"
#include "link/link.h"
#include "link/transact.h"
#include "loader/loader.h"
#include "platform/text_file.h"
#include "sim/simulator.h"

namespace krt::bench {
namespace {

std::string g_image_path;

// An S3 record of 16 data bytes, as objcopy writes it (after text mode has
// turned its CR LF into LF).
std::string S3Record(std::uint32_t address, const std::uint8_t* data) {
  char line[64];
  int n = std::snprintf(line, sizeof line, "S315%08X", static_cast<unsigned>(address));
  unsigned sum = 0x15 + (address >> 24) + ((address >> 16) & 0xFF) + ((address >> 8) & 0xFF) +
                 (address & 0xFF);
  for (int i = 0; i < 16; ++i) {
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X", data[i]);
    sum += data[i];
  }
  std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X\n", ~sum & 0xFF);
  return line;
}

// The pieces of the image as the flashing hands them to the decoder, and the
// bytes of the file they came from.
struct Image {
  std::vector<std::string> pieces;
  std::uint64_t file_bytes = 0;
};

const Image& TheImage() {
  static const Image image = [] {
    Image im;
    if (!g_image_path.empty()) {
      TextFile file;
      if (!file.Open(g_image_path)) {
        std::fprintf(stderr, "bench_micro: cannot open %s\n", g_image_path.c_str());
        std::exit(2);
      }
      std::string piece;
      while (file.ReadPiece(kImagePieceSize, piece) == TextFile::Read::kPiece) {
        im.pieces.push_back(piece);
      }
      im.file_bytes = file.Length();
      return im;
    }
    constexpr std::uint32_t kBytes = 8u << 20;
    std::uint8_t data[16];
    for (std::uint32_t offset = 0; offset < kBytes; offset += 16) {
      for (std::uint32_t i = 0; i < 16; ++i) {
        data[i] = static_cast<std::uint8_t>((offset + i) * 31 + ((offset + i) >> 8) * 7 + 90);
      }
      im.pieces.push_back(S3Record(0x01040000 + offset, data));
      im.file_bytes += im.pieces.back().size() + 1;  // the CR that text mode drops
    }
    return im;
  }();
  return image;
}

// DecodeSRecord over every line of the image, the lines already in memory.
void BM_DecodeSRecord(benchmark::State& state) {
  const Image& image = TheImage();
  std::uint8_t record[256];
  std::uint64_t data_bytes = 0;
  for (auto _ : state) {
    for (const std::string& piece : image.pieces) {
      std::uint32_t address = 0;
      const int n = DecodeSRecord(piece, address, record);
      if (n < 0) {
        state.SkipWithError("a line of the image was refused");
        return;
      }
      data_bytes += static_cast<std::uint64_t>(n);
      benchmark::DoNotOptimize(address);
      benchmark::DoNotOptimize(record);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(image.file_bytes * state.iterations()));
  state.SetItemsProcessed(static_cast<std::int64_t>(image.pieces.size() * state.iterations()));
  state.counters["data_MiB"] = static_cast<double>(data_bytes) / state.iterations() / (1 << 20);
}
BENCHMARK(BM_DecodeSRecord)->Unit(benchmark::kMillisecond);

// The image file read as the flashing reads it, and every piece decoded.
void BM_ReadAndDecodeImage(benchmark::State& state) {
  if (g_image_path.empty()) {
    state.SkipWithError("needs --image=FILE");
    return;
  }
  std::uint8_t record[256];
  std::uint64_t length = 0;
  for (auto _ : state) {
    TextFile file;
    if (!file.Open(g_image_path)) {
      state.SkipWithError("cannot open the image");
      return;
    }
    std::string piece;
    while (file.ReadPiece(kImagePieceSize, piece) == TextFile::Read::kPiece) {
      std::uint32_t address = 0;
      benchmark::DoNotOptimize(DecodeSRecord(piece, address, record));
    }
    length = file.Length();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(length * state.iterations()));
}
BENCHMARK(BM_ReadAndDecodeImage)->Unit(benchmark::kMillisecond);

// A ProgramFlash request of 16 data bytes with its header, and a full-size one
// of 1500 bytes that holds DLE bytes to escape.
std::vector<std::uint8_t> FrameData(std::size_t size) {
  std::vector<std::uint8_t> d(size);
  for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<std::uint8_t>(i * 37 + 5);
  d[0] = 0x50;
  d[1] = static_cast<std::uint8_t>(size - 2);
  return d;
}

void BM_EncodeFrame(benchmark::State& state) {
  const std::vector<std::uint8_t> data = FrameData(static_cast<std::size_t>(state.range(0)));
  std::vector<std::uint8_t> frame(MaxFrameSize(data.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(EncodeFrame(data.data(), data.size(), frame.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(data.size() * state.iterations()));
}
BENCHMARK(BM_EncodeFrame)->Arg(25)->Arg(1500);

void BM_DecodeFrame(benchmark::State& state) {
  const std::vector<std::uint8_t> data = FrameData(static_cast<std::size_t>(state.range(0)));
  std::vector<std::uint8_t> frame(MaxFrameSize(data.size()));
  frame.resize(EncodeFrame(data.data(), data.size(), frame.data()));
  std::vector<std::uint8_t> out(kLinkBufferSize);
  for (auto _ : state) {
    FrameDecoder decoder(out.data(), out.size());
    for (std::uint8_t b : frame) {
      if (decoder.Push(b) == FrameDecoder::Step::kFrame) benchmark::DoNotOptimize(decoder.Size());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(frame.size() * state.iterations()));
}
BENCHMARK(BM_DecodeFrame)->Arg(25)->Arg(1500);

// A simulated probe in this process and the link open to it at 115200 bit/s.
class LinkedProbe {
 public:
  explicit LinkedProbe(bool pace) {
    sim::SimulatorOptions o;
    o.rate = 115200;
    o.pace = pace;
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    if (!sim_->Start(&error)) {
      std::fprintf(stderr, "bench_micro: the simulator did not start: %s\n", error.c_str());
      std::exit(1);
    }
  }
  ~LinkedProbe() {
    LinkClose();
    sim_->Stop();
  }
  sim::Simulator& Sim() { return *sim_; }

 private:
  std::unique_ptr<sim::Simulator> sim_;
};

// ProgramFlash of 16 data bytes, one transaction after the other, over the
// pseudo-terminal against a probe that answers at once: the host's and the
// line's overhead per transaction. The firmware sectors are erased (untimed)
// whenever the records have filled them.
void BM_TransactProgramFlash(benchmark::State& state) {
  LinkedProbe probe(false);
  if (LinkOpen(probe.Sim().DevicePath(), 115200) != rc::kOk) {
    state.SkipWithError("the link did not open");
    return;
  }
  auto erase = [] {
    for (std::uint32_t sector : kFirmwareSectors) {
      if (EraseSector(sector) != rc::kOk) return false;
    }
    return true;
  };
  if (!erase()) {
    state.SkipWithError("erasing failed");
    return;
  }
  constexpr std::uint32_t kStart = 0x01040000;
  constexpr std::uint32_t kEnd = 0x01100000;
  std::uint32_t address = kStart;
  std::uint8_t data[16];
  std::int64_t failed = 0;
  for (auto _ : state) {
    if (address == kEnd) {
      state.PauseTiming();
      probe.Sim().ClearLog();
      if (!erase()) {
        state.SkipWithError("erasing failed");
        return;
      }
      address = kStart;
      state.ResumeTiming();
    }
    for (int i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>((address + i) * 31 + 90);
    std::uint32_t value = 0;
    if (ProgramFlash(address, sizeof data, data, value) != rc::kOk) ++failed;
    address += sizeof data;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["failed"] = static_cast<double>(failed);
  LinkClose();
}
BENCHMARK(BM_TransactProgramFlash)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->UseRealTime();

// The same against a probe paced at 115200 bit/s: the time a transaction
// takes over the line time of its bytes, as the simulator counted them, is
// the overhead of the host, the pseudo-terminal and the simulator together.
void BM_PacedProgramFlash(benchmark::State& state) {
  LinkedProbe probe(true);
  if (LinkOpen(probe.Sim().DevicePath(), 115200) != rc::kOk) {
    state.SkipWithError("the link did not open");
    return;
  }
  for (std::uint32_t sector : kFirmwareSectors) {
    if (EraseSector(sector) != rc::kOk) {
      state.SkipWithError("erasing failed");
      return;
    }
  }
  probe.Sim().ClearStats();
  std::uint32_t address = 0x01040000;
  std::uint8_t data[16];
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (int i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>((address + i) * 31 + 90);
    std::uint32_t value = 0;
    if (ProgramFlash(address, sizeof data, data, value) != rc::kOk) {
      state.SkipWithError("programming failed");
      return;
    }
    address += sizeof data;
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const sim::LineStats s = probe.Sim().Stats();
  const double line = static_cast<double>(s.bytes_received + s.bytes_sent) * 10.0 / 115200.0;
  const double n = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
  state.counters["line_us"] = line / n * 1e6;
  state.counters["over_us"] = (wall - line) / n * 1e6;
  state.counters["sim_late_us"] =
      s.paced_answers > 0
          ? static_cast<double>(s.answer_late_ns_total) / static_cast<double>(s.paced_answers) / 1e3
          : 0.0;
  LinkClose();
}
BENCHMARK(BM_PacedProgramFlash)->Unit(benchmark::kMicrosecond)->Iterations(2000)->UseRealTime();

// The Connect command's work with the loader already at the wanted rate: the
// link start-up (wake-up bytes, the 300 ms pause, the speed probe) and the
// identification (codes 114 and 100), against a probe paced at 115200 bit/s.
// Its bound is the pause plus the bytes that crossed the line.
void BM_Connect(benchmark::State& state) {
  LinkedProbe probe(true);
  const std::string device = probe.Sim().DevicePath();
  double seconds = 0;
  double bound_s = 0;
  for (auto _ : state) {
    probe.Sim().ClearStats();
    const auto t0 = std::chrono::steady_clock::now();
    ResultCode r = LinkOpen(device, 115200);
    VersionNumber loader = 0;
    VersionNumber firmware = 0;
    VersionNumber logic = 0;
    std::string serial;
    if (r == rc::kOk) r = IdentifyLoader(loader, firmware, logic, serial);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    LinkClose();
    if (r != rc::kOk || loader == 0) {
      state.SkipWithError("Connect failed");
      return;
    }
    const sim::LineStats s = probe.Sim().Stats();
    state.SetIterationTime(took);
    seconds += took;
    bound_s += 0.300 + static_cast<double>(s.bytes_received + s.bytes_sent) * 10.0 / 115200.0;
  }
  state.counters["connect_ms"] = seconds * 1000.0 / state.iterations();
  state.counters["bound_ms"] = bound_s * 1000.0 / state.iterations();
  state.counters["ratio"] = seconds / bound_s;
}
BENCHMARK(BM_Connect)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace
}  // namespace krt::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    constexpr char kImage[] = "--image=";
    if (std::strncmp(argv[i], kImage, sizeof kImage - 1) == 0) {
      krt::bench::g_image_path = argv[i] + sizeof kImage - 1;
    } else {
      std::fprintf(stderr, "bench_micro: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
