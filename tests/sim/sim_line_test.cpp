// The tool's link and loader commands against the simulator over a real
// pseudo-terminal: negotiation, transactions, identification, the bytes of
// the flash and logic commands, faults, a hung-up line and reconnection.
//
// Every LinkOpen costs at least the 300 ms pause of the start-up, so each test
// opens the link as few times as it can and runs its cases over one link.
#include <sys/ioctl.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/frame_codec.h"
#include "link/link.h"
#include "link/serial_port.h"
#include "link/transact.h"
#include "loader/loader.h"
#include "sim/simulator.h"
#include "tests/sim/raw_client.h"

namespace krt::sim {
namespace {

using test::NowMs;
using test::NowUs;
using test::RawClient;
using ::testing::ElementsAre;

std::unique_ptr<Simulator> StartSimulator(SimulatorOptions options) {
  auto sim = std::make_unique<Simulator>(std::move(options));
  std::string error;
  EXPECT_TRUE(sim->Start(&error)) << error;
  return sim;
}

Fault F(const std::string& text) {
  std::string error;
  const std::optional<Fault> f = ParseFault(text, &error);
  EXPECT_TRUE(f) << text << ": " << error;
  return f.value_or(Fault{});
}

std::vector<LineMessage> Requests(const Simulator& sim) {
  std::vector<LineMessage> out;
  for (const LineMessage& m : sim.Messages()) {
    if (m.kind == MessageKind::kRequest) out.push_back(m);
  }
  return out;
}

// Waits (bounded) until `done` holds; the line thread acts just after its
// answer has left.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    Delay(5);
  }
  return done();
}

class LineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    LinkClose();
    sim_.reset();
  }
  // A simulator already listening at 115200, and the link open at that rate
  // (one probe, no speed change).
  void OpenAt115200(SimulatorOptions options = {}) {
    options.rate = 115200;
    sim_ = StartSimulator(std::move(options));
    ASSERT_EQ(LinkOpen(sim_->DevicePath(), 115200), rc::kOk);
    sim_->ClearLog();
  }
  std::unique_ptr<Simulator> sim_;
};

struct NegotiationCase {
  const char* name;
  std::uint32_t start_rate;
  std::uint32_t answer_rate;
  std::uint32_t max_rate;
  std::uint32_t wanted;
  std::uint32_t agreed;  // where both ends are afterwards
};

void PrintTo(const NegotiationCase& c, std::ostream* os) { *os << c.name; }

class NegotiationTest : public LineTest, public ::testing::WithParamInterface<NegotiationCase> {};

TEST_P(NegotiationTest, EndsAtTheLoadersRate) {
  const NegotiationCase& c = GetParam();
  SimulatorOptions o;
  o.rate = c.start_rate;
  o.answer_rate = c.answer_rate;
  o.max_rate = c.max_rate;
  sim_ = StartSimulator(o);
  ASSERT_EQ(LinkOpen(sim_->DevicePath(), c.wanted), rc::kOk);
  EXPECT_EQ(TheLink().port.bit_rate, c.agreed);
  EXPECT_EQ(sim_->ListeningRate(), c.agreed);

  // Only the messages at the loader's rate reach it; the tries at other rates
  // are noise on its side of the line.
  const std::vector<LineMessage> m = sim_->Messages();
  if (c.start_rate == c.wanted) {
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].kind, MessageKind::kSpeedProbe);
  } else {
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].kind, MessageKind::kSpeedProbe);
    EXPECT_EQ(m[0].rate, c.start_rate);
    EXPECT_EQ(m[1].kind, MessageKind::kSpeedChange);
    std::uint32_t asked = 0;
    GetU32(m[1].payload.data(), 1, asked);
    EXPECT_EQ(asked, c.wanted);
    EXPECT_EQ(m[2].kind, MessageKind::kSpeedProbe);
    EXPECT_EQ(m[2].rate, c.agreed);
  }

  if (c.answer_rate != 0) {
    // The answer deadline is that of the agreed rate: an answer 460 ms late
    // is still taken by the first attempt at 38400 bit/s (deadline 591 ms),
    // where the wanted 115200 bit/s would have given up after 330 ms.
    ASSERT_EQ(c.agreed, 38400u);
    ASSERT_LT(AnswerDeadlineMs(1, 115200, 0), 400u);
    ASSERT_GT(AnswerDeadlineMs(1, 38400, 0), 520u);
    sim_->ClearLog();
    sim_->SetFaults({F("delay:ms=460")});
    std::uint8_t request = 106;
    EXPECT_EQ(Transact(1, &request, 1500, AnswerBuffer(), 0), 2);
    EXPECT_EQ(Requests(*sim_).size(), 1u);  // no second attempt
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, NegotiationTest,
    ::testing::Values(NegotiationCase{"AlreadyThere", 115200, 0, 115200, 115200, 115200},
                      NegotiationCase{"From9600", 9600, 0, 115200, 115200, 115200},
                      NegotiationCase{"LoaderNamesAnother", 9600, 38400, 115200, 115200, 38400},
                      NegotiationCase{"LoaderLimit", 9600, 0, 57600, 115200, 57600}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LineTest, NoLoaderAnswersAndThePortIsReleased) {
  SimulatorOptions o;
  o.faults = {F("silent:code=probe")};  // dead from the first speed probe on
  sim_ = StartSimulator(o);
  const std::int64_t start = NowMs();
  EXPECT_EQ(LinkOpen(sim_->DevicePath(), 115200), rc::kNoAnswer);
  const std::int64_t took = NowMs() - start;
  EXPECT_EQ(TheLink().open, 0);
  EXPECT_FALSE(TheLink().port.device);
  // Six tries (115200, then 9600 to 115200), each a 300 ms pause and a
  // 200 ms wait; only the one at 9600 reached the loader.
  EXPECT_GE(took, 6 * 500);
  EXPECT_LT(took, 15000);
  const std::vector<LineMessage> m = sim_->Messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].rate, 9600u);
  // Released: the device opens again.
  EXPECT_TRUE(RawClient(sim_->DevicePath(), 9600).ok());
}

TEST_F(LineTest, ASixByteSpeedChangeAnswerFailsTheOpen) {
  SimulatorOptions o;
  o.faults = {F("short:code=speed")};
  sim_ = StartSimulator(o);
  EXPECT_EQ(LinkOpen(sim_->DevicePath(), 115200), rc::kPortOpenFailed);
  EXPECT_EQ(TheLink().open, 0);
  EXPECT_FALSE(TheLink().port.device);
}

TEST_F(LineTest, RetryKeepsTheSequenceNumberAndTransactionsCount) {
  SimulatorOptions o;
  o.faults = {F("drop:at=1")};
  OpenAt115200(o);
  VersionNumber loader = 0, firmware = 0, logic = 0;
  std::string serial;
  const std::int64_t start = NowMs();
  ASSERT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kOk);
  // The first answer was lost: one deadline passed before the second attempt.
  EXPECT_GE(NowMs() - start, static_cast<std::int64_t>(AnswerDeadlineMs(1, 115200, 10)));
  std::uint8_t type = 0;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(ReadLogicDeviceId(type), rc::kOk);

  std::vector<int> sequences, codes;
  for (const LineMessage& m : Requests(*sim_)) {
    sequences.push_back(m.sequence());
    codes.push_back(m.payload.at(0));
  }
  EXPECT_THAT(codes, ElementsAre(114, 114, 100, 106, 106, 106));
  EXPECT_THAT(sequences, ElementsAre(0, 0, 1, 2, 3, 0));
}

TEST_F(LineTest, IdentificationThroughTheLine) {
  OpenAt115200();
  struct Case {
    std::string serial;
    std::uint16_t loader_word, firmware_word, logic_word;
    VersionNumber loader, firmware, logic;
  };
  const Case cases[] = {
      {"12345678", 102, 0x1169, 0x1B6D, 102, 105, 21},
      {"1234567890", 0x0100, 0xD169, 7999, 256, 105, 999},
      {"ABCDEFGH", 1, 0x1269, 8000, 1, 0, 0},
      {"0000000A", 7, 0x1100, 7000, 7, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    ProbeModelOptions o = sim_->ModelOptions();
    o.serial_number = c.serial;
    o.loader_word = c.loader_word;
    o.firmware_word = c.firmware_word;
    o.logic_word = c.logic_word;
    sim_->SetModelOptions(o);
    VersionNumber loader = 1, firmware = 1, logic = 1;
    std::string serial;
    ASSERT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kOk);
    EXPECT_EQ(serial, c.serial);
    EXPECT_EQ(loader, c.loader);
    EXPECT_EQ(firmware, c.firmware);
    EXPECT_EQ(logic, c.logic);
  }
  // A 9-character serial number makes a 16-byte answer: versions 0, the text
  // kept from before.
  ProbeModelOptions o = sim_->ModelOptions();
  o.serial_number = "123456789";
  sim_->SetModelOptions(o);
  VersionNumber loader = 1, firmware = 1, logic = 1;
  std::string serial = "kept";
  ASSERT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kOk);
  EXPECT_EQ(serial, "kept");
  EXPECT_EQ(loader + firmware + logic, 0);
}

TEST_F(LineTest, FlashAndLogicCommandsByteForByte) {
  OpenAt115200();
  const Bytes image{0xAA, 0x55, 0x55, 0xAA, 0x07, 0x10, 0x03, 0xFF};  // DLE and ETX travel too
  const std::string ones(240, '1');
  const std::string ues = EncodeUesText("B6001E7105");
  std::uint32_t value = 0;
  ASSERT_EQ(EraseSector(0x01040000), rc::kOk);
  ASSERT_EQ(ProgramFlash(0x01040000, 8, image.data(), value), rc::kOk);
  EXPECT_EQ(value, 0x01040008u);
  std::uint8_t back[8] = {};
  ASSERT_EQ(ReadFlash(0x01040000, 8, back), rc::kOk);
  EXPECT_EQ(Bytes(back, back + 8), image);
  std::uint8_t type = 0;
  std::string first, second, ues_back;
  ASSERT_EQ(SetLogicAccess(true), rc::kOk);
  ASSERT_EQ(ReadLogicDeviceId(type), rc::kOk);
  EXPECT_EQ(type, 19);
  ASSERT_EQ(EraseLogic(), rc::kOk);
  ASSERT_EQ(ProgramFuseRow(5, ones), rc::kOk);
  ASSERT_EQ(ProgramUes(ues), rc::kOk);
  ASSERT_EQ(ReadFuseRow(5, first, second), rc::kOk);
  EXPECT_EQ(first, ones);
  EXPECT_EQ(second, ones);
  ASSERT_EQ(ReadFuseRow(133, first, second), rc::kOk);
  EXPECT_EQ(first, std::string(240, '0'));
  ASSERT_EQ(ReadUes(ues_back), rc::kOk);
  EXPECT_EQ(ues_back, ues);
  ASSERT_EQ(SetLogicAccess(false), rc::kOk);

  auto with = [](Bytes head, const std::string& text) {
    head.insert(head.end(), text.begin(), text.end());
    return head;
  };
  Bytes program{0x68, 0x01, 0x04, 0x00, 0x00, 0x00, 0x08};
  program.insert(program.end(), image.begin(), image.end());
  const std::vector<RequestRecord> log = sim_->Requests();
  std::vector<Bytes> sent;
  for (const RequestRecord& r : log) sent.push_back(r.payload);
  EXPECT_THAT(sent,
              ElementsAre(Bytes{0x67, 0x01, 0x04, 0x00, 0x00}, program,
                          Bytes{0x65, 0x01, 0x04, 0x00, 0x00, 0x00, 0x08}, Bytes{0x69, 0x01},
                          Bytes{0x6A}, Bytes{0x70}, with({0x6C, 0x05}, ones), with({0x6E}, ues),
                          Bytes{0x6B, 0x05}, Bytes{0x6B, 0x85}, Bytes{0x6D}, Bytes{0x69, 0x00}));

  // What was programmed is what the loader reports.
  VersionNumber loader = 0, firmware = 0, logic = 0;
  std::string serial;
  ASSERT_EQ(IdentifyLoader(loader, firmware, logic, serial), rc::kOk);
  EXPECT_EQ(firmware, 7);
  EXPECT_EQ(logic, 105);

  // The loader's own sector refuses, with a status the tool reports.
  EXPECT_EQ(EraseSector(0x01000000), rc::kEraseFailed);
  EXPECT_EQ(ProgramFlash(0x01000000, 4, image.data(), value), rc::kProgramFailed);
}

TEST_F(LineTest, FaultsSeenThroughTheLoaderCommands) {
  SimulatorOptions o;
  o.model.logic_version = 3;
  OpenAt115200(o);
  const std::string row5 = PatternRow(5);
  struct Case {
    const char* fault;
    std::function<ResultCode()> run;
    ResultCode expected;
    std::size_t requests;  // requests the simulator saw
  };
  std::uint8_t data[4] = {};
  std::uint8_t scratch[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  std::uint32_t value = 0;
  std::uint8_t type = 0;
  std::string first, second, ues;
  VersionNumber v1 = 0, v2 = 0, v3 = 0;
  std::string serial;
  const Case cases[] = {
      {"status:code=103", [&] { return EraseSector(0x01080000); }, rc::kEraseFailed, 1},
      {"status", [&] { return ProgramFlash(0x01080000, 4, scratch, value); }, rc::kProgramFailed,
       1},
      {"code:code=101", [&] { return ReadFlash(0x01008000, 4, data); }, rc::kMalformedAnswer, 1},
      {"short:code=107", [&] { return ReadFuseRow(5, first, second); }, rc::kMalformedAnswer, 1},
      {"short:code=109", [&] { return ReadUes(ues); }, rc::kMalformedAnswer, 1},
      // Answers that fail their frame or header checks cost an attempt each,
      // without waiting for a deadline.
      {"corrupt", [&] { return ReadLogicDeviceId(type); }, rc::kOk, 2},
      {"corrupt:times=3", [&] { return ReadLogicDeviceId(type); }, rc::kNoAnswer, 3},
      {"length:times=3", [&] { return ReadLogicDeviceId(type); }, rc::kNoAnswer, 3},
      {"echo114", [&] { return IdentifyLoader(v1, v2, v3, serial); }, rc::kLoaderEchoed, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    sim_->SetFaults({F(c.fault)});
    sim_->ClearLog();
    const std::int64_t start = NowMs();
    EXPECT_EQ(c.run(), c.expected);
    EXPECT_LT(NowMs() - start, 1500);  // the echo pauses 1000 ms, nothing else waits
    EXPECT_EQ(Requests(*sim_).size(), c.requests);
  }
  // Programming that was refused changed nothing.
  EXPECT_EQ(sim_->Flash(0x01080000, 1), Bytes{0xFF});

  // Readings that differ in one place.
  sim_->SetFaults({F("second-reading:row=5,pos=3")});
  ASSERT_EQ(ReadFuseRow(4, first, second), rc::kOk);
  EXPECT_EQ(second, PatternRow(4));  // another row: untouched
  ASSERT_EQ(ReadFuseRow(5, first, second), rc::kOk);
  EXPECT_EQ(first, row5);
  ASSERT_EQ(second.size(), 240u);
  for (std::size_t i = 0; i < 240; ++i) EXPECT_EQ(second[i] != row5[i], i == 3) << i;

  sim_->SetFaults({F("first-reading:row=5")});
  ASSERT_EQ(ReadFuseRow(5, first, second), rc::kOk);
  EXPECT_NE(first, row5);
  EXPECT_EQ(second, row5);

  sim_->SetFaults({F("ues:pos=7")});
  ASSERT_EQ(ReadUes(ues), rc::kOk);
  const std::string bits = EncodeUesText("B6001E7003");
  ASSERT_EQ(ues.size(), 120u);
  for (std::size_t i = 0; i < 120; ++i) EXPECT_EQ(ues[i] != bits[i], i == 7) << i;

  sim_->SetFaults({F("readback:pos=2")});
  ASSERT_EQ(ReadFlash(0x01008000, 4, data), rc::kOk);
  EXPECT_THAT(data, ElementsAre(0xFF, 0xFF, 0x00, 0xFF));
}

TEST_F(LineTest, AHungUpLineFailsFastAndTheSimulatorComesBack) {
  char dir[] = "/tmp/krt-sim-line-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  SimulatorOptions o;
  o.link_path = std::string(dir) + "/probe";
  OpenAt115200(o);
  const std::string first_path = sim_->DevicePath();
  EXPECT_EQ(std::filesystem::read_symlink(o.link_path), first_path);
  const std::uint8_t kept[3] = {1, 2, 3};
  std::uint32_t value = 0;
  ASSERT_EQ(ProgramFlash(0x01010000, 3, kept, value), rc::kOk);

  sim_->SetFaults({F("hangup")});
  std::uint8_t type = 0;
  std::int64_t start = NowMs();
  EXPECT_EQ(ReadLogicDeviceId(type), rc::kNoAnswer);
  // Three attempts on a dead device, far below even one answer deadline.
  EXPECT_LT(NowMs() - start, static_cast<std::int64_t>(AnswerDeadlineMs(1, 115200, 100)));
  start = NowMs();
  std::uint8_t byte = 0;
  EXPECT_EQ(ReadByte(TheLink().port, byte, 2000), rc::kDeviceGone);
  EXPECT_LT(NowMs() - start, 500);
  EXPECT_TRUE(sim_->HungUp());

  // Plugged in again: a new device path, the same probe.
  std::string error;
  ASSERT_TRUE(sim_->Restart(&error)) << error;
  EXPECT_FALSE(sim_->HungUp());
  EXPECT_NE(sim_->DevicePath(), first_path);
  EXPECT_EQ(std::filesystem::read_symlink(o.link_path), sim_->DevicePath());
  LinkClose();
  ASSERT_EQ(LinkOpen(o.link_path, 115200), rc::kOk);
  std::uint8_t back[3] = {};
  ASSERT_EQ(ReadFlash(0x01010000, 3, back), rc::kOk);
  EXPECT_THAT(back, ElementsAre(1, 2, 3));
  LinkClose();
  sim_.reset();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(o.link_path)));
  std::filesystem::remove_all(dir);
}

TEST_F(LineTest, TheProbeKeepsItsFlashAcrossConnections) {
  SimulatorOptions o;
  o.rate = 9600;
  sim_ = StartSimulator(o);
  ASSERT_EQ(LinkOpen(sim_->DevicePath(), 19200), rc::kOk);
  Bytes image(300);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  std::uint32_t value = 0;
  ASSERT_EQ(ProgramFlash(0x01010000, 300, image.data(), value), rc::kOk);

  // Leaving the tool: the firmware starts, the probe is back in its loader at
  // its start rate.
  ASSERT_EQ(StartFirmware(), rc::kOk);
  EXPECT_TRUE(Eventually([&] { return sim_->ListeningRate() == 9600; }));
  EXPECT_EQ(sim_->FirmwareStarts(), 1u);
  LinkClose();

  // The tool's exclusive claim on the device ended with its close, although
  // the simulator's own descriptor keeps the terminal alive.
  {
    const int fd = open(sim_->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(fd);
  }

  ASSERT_EQ(LinkOpen(sim_->DevicePath(), 19200), rc::kOk);
  Bytes back(300);
  ASSERT_EQ(ReadFlash(0x01010000, 300, back.data()), rc::kOk);
  EXPECT_EQ(back, image);
}

TEST_F(LineTest, PacedTransactionsTakeTheirLineTimeAndLittleMore) {
  SimulatorOptions o;
  o.pace = true;
  OpenAt115200(o);
  constexpr int kTransactions = 10;
  constexpr std::uint16_t kCount = 512;
  std::vector<std::uint8_t> data(kCount);
  // The bytes both frames put on the wire, as the link and the simulator
  // encode them (the header's flag byte is a DLE and is doubled).
  auto frame_size = [](const Bytes& d) {
    Bytes f(MaxFrameSize(d.size()));
    return EncodeFrame(d.data(), d.size(), f.data());
  };
  std::int64_t line_us = 0;
  std::int64_t slowest_over_us = 0;
  const std::int64_t start = NowUs();
  for (int i = 0; i < kTransactions; ++i) {
    const std::uint8_t seq = static_cast<std::uint8_t>((i & 3) << 6);
    // Request: header, 101, address, count. Answer: header, 101, the six
    // parameter bytes, the data (erased flash).
    Bytes request{static_cast<std::uint8_t>(seq | 0x10), 7, 101};
    request.resize(9);
    PutU16(request.data(), PutU32(request.data(), 3, 0x01010000), kCount);
    const std::size_t answer_size = 7u + kCount;
    Bytes answer{static_cast<std::uint8_t>(seq | 0x10 | (answer_size >> 8)),
                 static_cast<std::uint8_t>(answer_size & 0xFF)};
    answer.insert(answer.end(), request.begin() + 2, request.end());
    answer.resize(answer.size() + kCount, 0xFF);
    const std::int64_t one_line_us =
        static_cast<std::int64_t>(frame_size(request) + frame_size(answer)) * 10'000'000 / 115200;
    const std::int64_t t0 = NowUs();
    ASSERT_EQ(ReadFlash(0x01010000, kCount, data.data()), rc::kOk);
    const std::int64_t took = NowUs() - t0;
    EXPECT_GE(took, one_line_us);  // never faster than the wire
    slowest_over_us = std::max(slowest_over_us, took - one_line_us);
    line_us += one_line_us;
  }
  const std::int64_t total_us = NowUs() - start;
  const double over_per_transaction_us = static_cast<double>(total_us - line_us) / kTransactions;
  RecordProperty("line_time_us", std::to_string(line_us));
  RecordProperty("wall_time_us", std::to_string(total_us));
  std::printf(
      "paced: %d transactions, line %lld us, wall %lld us, %.0f us over a transaction, "
      "slowest %lld us over\n",
      kTransactions, static_cast<long long>(line_us), static_cast<long long>(total_us),
      over_per_transaction_us, static_cast<long long>(slowest_over_us));
  EXPECT_GE(total_us, line_us);
  // Generous for a loaded two-core machine; typically well under a millisecond.
  EXPECT_LT(over_per_transaction_us, 5000.0);
}

TEST(RawLine, AnswerHeadersNoiseAndSpeedChange) {
  SimulatorOptions o;
  o.rate = 9600;
  auto sim = StartSimulator(o);
  RawClient client(sim->DevicePath(), 9600);
  ASSERT_TRUE(client.ok());

  // The answer header: the request's sequence bits, the flag, the length.
  client.SendRequest({106}, 2);
  RawClient::Received r = client.Receive(2000);
  ASSERT_EQ(r.step, FrameDecoder::Step::kFrame);
  EXPECT_THAT(r.data, ElementsAre(0x90, 0x02, 106, 19));

  // A header whose length disagrees with its payload is ignored.
  client.SendFrame({0xD0, 0x05, 106});
  client.SendRequest({106}, 3);
  r = client.Receive(2000);
  ASSERT_EQ(r.step, FrameDecoder::Step::kFrame);
  EXPECT_EQ(r.data.at(0), 0xD0);  // the answer to the second frame, sequence 3

  // Sent at another rate: noise, dropped. The simulator samples the rate as it
  // reads, so it is given time to read before the rate goes back.
  client.SetRate(19200);
  client.SendRequest({106}, 1);
  Delay(100);
  client.SetRate(9600);
  client.SendRequest({106}, 0);
  r = client.Receive(2000);
  ASSERT_EQ(r.step, FrameDecoder::Step::kFrame);
  EXPECT_EQ(r.data.at(0), 0x10);  // sequence 0: the one at 19200 got no answer
  EXPECT_EQ(Requests(*sim).size(), 3u);

  // A frame with its check spoiled.
  sim->SetFaults({F("corrupt")});
  client.SendRequest({106}, 0);
  EXPECT_EQ(client.Receive(2000).step, FrameDecoder::Step::kBadCheck);

  // The speed change: the answer names the rate, then the loader is there.
  client.SendFrame({0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00});
  r = client.Receive(2000);
  ASSERT_EQ(r.step, FrameDecoder::Step::kFrame);
  EXPECT_THAT(r.data, ElementsAre(0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00));
  EXPECT_TRUE(Eventually([&] { return sim->ListeningRate() == 115200; }));
  client.SetRate(115200);
  client.SendFrame({0x00, 0x01, 0x01});
  r = client.Receive(2000);
  ASSERT_EQ(r.step, FrameDecoder::Step::kFrame);
  EXPECT_THAT(r.data, ElementsAre(0x00, 0x01, 0x01));
}

TEST(RawLine, PacingAndProcessDelayHoldTheAnswerBack) {
  struct Case {
    bool pace;
    std::uint32_t delay_ms;
    std::int64_t at_least_us;
  };
  // At 9600 bit/s the probe's frame (8 bytes) and its answer (8 bytes) take
  // 16.7 ms on the wire.
  const Case cases[] = {{true, 0, 16'666}, {false, 40, 40'000}, {true, 40, 56'666}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.delay_ms);
    SimulatorOptions o;
    o.pace = c.pace;
    o.process_delay_ms = c.delay_ms;
    auto sim = StartSimulator(o);
    RawClient client(sim->DevicePath(), 9600);
    const std::int64_t start = NowUs();
    client.SendFrame({0x00, 0x01, 0x01});
    const RawClient::Received r = client.Receive(2000);
    ASSERT_EQ(r.step, FrameDecoder::Step::kFrame);
    EXPECT_GE(r.last_byte_us - start, c.at_least_us);
    EXPECT_LT(r.last_byte_us - start, c.at_least_us + 500'000);
  }
}

// The counters of what crossed the line: every raw byte each way, frames by
// kind, and for a paced line the chunks and answers with their lateness.
TEST(RawLine, CountsEveryByteBothWays) {
  auto frame_size = [](const Bytes& d) {
    Bytes f(MaxFrameSize(d.size()));
    return EncodeFrame(d.data(), d.size(), f.data());
  };
  for (const bool pace : {false, true}) {
    SCOPED_TRACE(pace ? "paced" : "unpaced");
    SimulatorOptions o;
    o.rate = 115200;
    o.pace = pace;
    auto sim = StartSimulator(o);
    RawClient client(sim->DevicePath(), 115200);
    ASSERT_TRUE(client.ok());

    // Wake-up bytes and a speed probe; a request whose header flag byte and
    // check are DLEs to double; a read of 100 bytes, its answer several
    // chunks long when paced.
    client.SendRaw({0xDB, 0xDE});
    client.SendFrame({0x00, 0x01, 0x01});
    RawClient::Received probe = client.Receive(2000);
    ASSERT_EQ(probe.step, FrameDecoder::Step::kFrame);
    const Bytes read_request{101, 0x01, 0x01, 0x00, 0x00, 0x00, 100};
    client.SendRequest(read_request, 0);
    RawClient::Received read = client.Receive(2000);
    ASSERT_EQ(read.step, FrameDecoder::Step::kFrame);
    ASSERT_EQ(read.data.size(), 2u + 107u);

    Bytes request{0x10, static_cast<std::uint8_t>(read_request.size())};
    request.insert(request.end(), read_request.begin(), read_request.end());
    const std::size_t received = 2 + frame_size({0x00, 0x01, 0x01}) + frame_size(request);
    const std::size_t sent = frame_size(probe.data) + frame_size(read.data);
    // The counters move just after each write, perhaps after the client read.
    ASSERT_TRUE(Eventually([&] { return sim->Stats().bytes_sent >= sent; }));
    const LineStats s = sim->Stats();
    EXPECT_EQ(s.bytes_received, received);
    EXPECT_EQ(s.bytes_sent, sent);
    EXPECT_EQ(s.frames_received, 2u);
    EXPECT_EQ(s.speed_probes, 1u);
    EXPECT_EQ(s.speed_changes, 0u);
    EXPECT_EQ(s.requests, 1u);
    EXPECT_EQ(s.answers, 2u);
    // 11 bytes a chunk at 115200 bit/s: one chunk for the probe's answer,
    // the rest of the read's answer in eleven-byte pieces.
    EXPECT_EQ(s.paced_answers, pace ? 2u : 0u);
    EXPECT_EQ(s.paced_chunks, pace ? 1 + (frame_size(read.data) + 10) / 11 : 0u);
    EXPECT_GE(s.answer_late_ns_max, 0);
    EXPECT_LE(s.answer_late_ns_max, s.chunk_late_ns_max);

    sim->ClearStats();
    EXPECT_EQ(sim->Stats().bytes_received, 0u);
  }
}

}  // namespace
}  // namespace krt::sim
