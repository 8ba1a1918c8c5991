// The simulated loader's model, byte by byte: flash semantics and statuses,
// versions that follow what was programmed, the logic device commands.
#include "sim/probe_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/transact.h"

namespace krt::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

Bytes Erase(std::uint32_t address) {
  Bytes q(5);
  PutU32(q.data(), PutByte(q.data(), 0, 103), address);
  return q;
}

Bytes Program(std::uint32_t address, const Bytes& data) {
  Bytes q(7);
  PutU16(q.data(), PutU32(q.data(), PutByte(q.data(), 0, 104), address),
         static_cast<std::uint16_t>(data.size()));
  q.insert(q.end(), data.begin(), data.end());
  return q;
}

Bytes Read(std::uint32_t address, std::uint16_t count) {
  Bytes q(7);
  PutU16(q.data(), PutU32(q.data(), PutByte(q.data(), 0, 101), address), count);
  return q;
}

std::uint32_t ProgramValue(const Bytes& answer) {
  std::uint32_t v = 0;
  GetU32(answer.data(), 2, v);
  return v;
}

std::uint16_t Word(const Bytes& identify, std::size_t pos) {
  std::uint16_t v = 0;
  GetU16(identify.data(), pos, v);
  return v;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes WithCode(std::uint8_t code, const std::string& text) {
  Bytes q(1 + text.size());
  q[0] = code;
  std::copy(text.begin(), text.end(), q.begin() + 1);
  return q;
}

TEST(ProbeModelFlash, StartsErased) {
  ProbeModel m;
  EXPECT_EQ(m.ReadFlash(kFlashBase, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(m.ReadFlash(kFlashBase + kFlashSize - 1, 1), Bytes{0xFF});
}

struct EraseCase {
  std::uint32_t address;
  std::uint8_t status;
};

class ProbeModelErase : public ::testing::TestWithParam<EraseCase> {};

TEST_P(ProbeModelErase, StatusByAddress) {
  ProbeModel m;
  EXPECT_EQ(m.Handle(Erase(GetParam().address)), (Bytes{103, GetParam().status}));
}

INSTANTIATE_TEST_SUITE_P(
    Sectors, ProbeModelErase,
    ::testing::Values(EraseCase{0x01008000, kFlashOk}, EraseCase{0x0100C000, kFlashOk},
                      EraseCase{0x01010000, kFlashOk}, EraseCase{0x01040000, kFlashOk},
                      EraseCase{0x01080000, kFlashOk}, EraseCase{0x010C0000, kFlashOk},
                      EraseCase{0x01000000, kFlashProtected},       // the loader's own
                      EraseCase{0x01008001, kFlashNotSectorStart},  // inside a sector
                      EraseCase{0x01100000, kFlashNotSectorStart},  // past the flash
                      EraseCase{0x00000000, kFlashNotSectorStart}));

TEST(ProbeModelFlash, EraseClearsExactlyItsSector) {
  ProbeModel m;
  ASSERT_EQ(m.Handle(Program(0x0100BFFC, {1, 2, 3, 4, 5, 6, 7, 8}))->at(1), kFlashOk);
  ASSERT_EQ(m.Handle(Erase(0x01008000))->at(1), kFlashOk);
  // 0x01008000 is 16 KiB: its last bytes are erased, the next sector's kept.
  EXPECT_EQ(m.ReadFlash(0x0100BFFC, 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 5, 6, 7, 8}));
}

TEST(ProbeModelFlash, ProgrammingAndsIntoTheFlash) {
  ProbeModel m;
  // Into erased flash: the data, status 0, the address just past it.
  Bytes a = *m.Handle(Program(0x01040000, {0x0F, 0x3C}));
  EXPECT_THAT(a, ElementsAre(104, kFlashOk, 0x01, 0x04, 0x00, 0x02));
  EXPECT_EQ(m.ReadFlash(0x01040000, 2), (Bytes{0x0F, 0x3C}));
  // The same data again (a retried request): still exactly the data.
  EXPECT_EQ(m.Handle(Program(0x01040000, {0x0F, 0x3C}))->at(1), kFlashOk);
  // Bits can only be cleared: 0x3C AND 0xC3 is 0, not 0xC3. The status says
  // so and the value names the byte that did not take.
  a = *m.Handle(Program(0x01040000, {0x0F, 0xC3}));
  EXPECT_EQ(a[1], kFlashDidNotTake);
  EXPECT_EQ(ProgramValue(a), 0x01040001u);
  EXPECT_EQ(m.ReadFlash(0x01040000, 2), (Bytes{0x0F, 0x00}));
  // Clearing more bits of a programmed byte works.
  EXPECT_EQ(m.Handle(Program(0x01040000, {0x05}))->at(1), kFlashOk);
  EXPECT_EQ(m.ReadFlash(0x01040000, 1), Bytes{0x05});
}

TEST(ProbeModelFlash, ProgramOutsideWritableFlashChangesNothing) {
  ProbeModel m;
  struct Case {
    Bytes request;
    std::uint8_t status;
  };
  const Case cases[] = {
      {Program(0x01007FFE, {0, 0}), kFlashProtected},  // the loader's own sector
      {Program(0x01007FFF, {0, 0}), kFlashProtected},  // reaching into the next one
      {Program(0x010FFFFF, {0, 0}), kFlashOutside},    // past the end of the flash
      {Program(0x00FFFFFF, {0, 0}), kFlashOutside},    // before its start
      {Program(0xFFFFFFFF, {0, 0}), kFlashOutside},    // the address wraps
      {Bytes{104, 0x01, 0x04, 0x00, 0x00, 0x00, 0x03, 0x00}, kFlashBadRequest},  // 3 said, 1 sent
      {Bytes{104, 0x01}, kFlashBadRequest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.request));
    const Bytes a = *m.Handle(c.request);
    ASSERT_EQ(a.size(), 6u);
    EXPECT_EQ(a[0], 104);
    EXPECT_EQ(a[1], c.status);
  }
  EXPECT_EQ(m.ReadFlash(0x01007FFE, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(m.ReadFlash(0x010FFFFF, 1), Bytes{0xFF});
  EXPECT_EQ(m.ReadFlash(0x01040000, 1), Bytes{0xFF});
}

TEST(ProbeModelFlash, RefusedChangesLeaveTheFlash) {
  ProbeModel m;
  EXPECT_EQ(m.Handle(Program(0x01040000, {0x12}), true)->at(1), kFlashRefused);
  EXPECT_EQ(m.ReadFlash(0x01040000, 1), Bytes{0xFF});
  ASSERT_EQ(m.Handle(Program(0x01040000, {0x12}))->at(1), kFlashOk);
  EXPECT_EQ(m.Handle(Erase(0x01040000), true), (Bytes{103, kFlashRefused}));
  EXPECT_EQ(m.ReadFlash(0x01040000, 1), Bytes{0x12});
}

TEST(ProbeModelFlash, ReadEchoesTheParametersThenTheData) {
  ProbeModel m;
  ASSERT_EQ(m.Handle(Program(0x010FFFFE, {0x11, 0x22}))->at(1), kFlashOk);
  // Four bytes from two before the end: two of flash, two outside it (0xFF).
  EXPECT_THAT(*m.Handle(Read(0x010FFFFE, 4)),
              ElementsAre(101, 0x01, 0x0F, 0xFF, 0xFE, 0x00, 0x04, 0x11, 0x22, 0xFF, 0xFF));
  EXPECT_THAT(*m.Handle(Read(0x01008000, 0)), ElementsAre(101, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00));
  // The most a transaction carries, and one byte more (parameters only).
  EXPECT_EQ(m.Handle(Read(0x01008000, 1491))->size(), 1498u);
  EXPECT_EQ(m.Handle(Read(0x01008000, 1492))->size(), 7u);
}

TEST(ProbeModelVersions, FirmwareWordFollowsTheSignature) {
  ProbeModel m;
  EXPECT_EQ(m.FirmwareWord(), 0);
  // An image whose byte 4 (0x01040004) is its version, then the signature over
  // its first four bytes, as the tool programs them.
  ASSERT_EQ(m.Handle(Program(0x01040000, {0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x99, 0x98, 0x97}))->at(1),
            kFlashOk);
  EXPECT_EQ(m.FirmwareWord(), 0);  // no signature yet
  ASSERT_EQ(m.Handle(Program(0x01040000, {0xAA, 0x55, 0x55, 0xAA}))->at(1), kFlashOk);
  EXPECT_EQ(m.FirmwareWord(), 0x1107);
  EXPECT_EQ(Word(*m.Handle({100}), 3), 0x1107);
  ASSERT_EQ(m.Handle(Erase(0x01040000))->at(1), kFlashOk);
  EXPECT_EQ(m.FirmwareWord(), 0);
}

TEST(ProbeModelVersions, LogicWordFollowsTheSignatureText) {
  ProbeModel m;
  EXPECT_EQ(m.LogicWord(), 0);
  m.Handle({105, 1});
  m.Handle(WithCode(110, EncodeUesText("B6001E7105")));
  EXPECT_EQ(m.LogicWord(), 7105);
  EXPECT_EQ(Word(*m.Handle({100}), 5), 7105);
  m.Handle({112});
  EXPECT_EQ(m.LogicWord(), 0);
}

TEST(ProbeModelVersions, StartStateAndOverrides) {
  ProbeModelOptions o;
  o.firmware_version = 5;
  o.logic_version = 42;
  ProbeModel m(o);
  EXPECT_EQ(m.ReadFlash(0x01040000, 5), (Bytes{0xAA, 0x55, 0x55, 0xAA, 0x05}));
  EXPECT_EQ(m.FirmwareWord(), 0x1105);
  EXPECT_EQ(m.LogicWord(), 7042);
  EXPECT_EQ(DecodeUesText(m.Ues()), "B6001E7042");
  EXPECT_EQ(m.FuseRows()[3], PatternRow(3));
  EXPECT_NE(PatternRow(3).find('1'), std::string::npos);
  EXPECT_NE(PatternRow(3).find('0'), std::string::npos);

  o.firmware_word = 0xD169;
  o.logic_word = 6999;
  o.firmware_version = 0;  // start-state fields are not taken at run time
  m.SetOptions(o);
  EXPECT_EQ(Word(*m.Handle({100}), 3), 0xD169);
  EXPECT_EQ(Word(*m.Handle({100}), 5), 6999);
  EXPECT_EQ(m.ReadFlash(0x01040004, 1), Bytes{0x05});
}

TEST(ProbeModelVersions, LogicWordOfSignatureTexts) {
  struct Case {
    std::string text;
    std::uint16_t word;
  };
  const Case cases[] = {
      {"B6001E7105", 7105},
      {"B6001E7000", 7000},
      {"B6001E7999", 7999},
      {"123", 7123},
      {"B6001E7", 0},
      {"B6001E71x5", 0},
      {"12", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(LogicWordForUes(EncodeUesText(c.text)), c.word) << c.text;
  // Bits that are not '0'/'1' carry no text at all.
  std::string bits = EncodeUesText("B6001E7105");
  bits[3] = 'x';
  EXPECT_EQ(LogicWordForUes(bits), 0);
  EXPECT_EQ(DecodeUesText(bits), std::nullopt);
  // Eight characters a byte, most significant bit first.
  EXPECT_EQ(EncodeUesText("B").substr(0, 8), "01000010");
  EXPECT_EQ(EncodeUesText(std::string(1, static_cast<char>(233))).substr(0, 8), "11101001");
}

TEST(ProbeModelIdentify, AnswersOfBothSerialLengths) {
  ProbeModelOptions o;
  o.loader_word = 0x0066;
  o.serial_number = "12345678";
  ProbeModel m(o);
  EXPECT_EQ(m.Handle({114}), Bytes{0x00});  // anything but an echo
  EXPECT_THAT(*m.Handle({100}),
              ElementsAre(100, 0x00, 0x66, 0, 0, 0, 0, '1', '2', '3', '4', '5', '6', '7', '8'));
  o.serial_number = "1234567890";
  m.SetOptions(o);
  const Bytes a = *m.Handle({100});
  ASSERT_EQ(a.size(), 17u);
  EXPECT_EQ(std::string(a.begin() + 7, a.end()), "1234567890");
}

TEST(ProbeModelLogic, WritesNeedAccess) {
  ProbeModel m;
  const std::string ones(kLogicRowFuses, '1');
  Bytes row5{108, 5};
  row5.insert(row5.end(), ones.begin(), ones.end());
  const Bytes ues = WithCode(110, EncodeUesText("B6001E7105"));

  // Access off: nothing is written or erased.
  EXPECT_EQ(m.Handle(row5), (Bytes{108, kLogicNoAccess}));
  EXPECT_EQ(m.Handle(ues), (Bytes{110, kLogicNoAccess}));
  EXPECT_EQ(m.FuseRows()[5], std::string(kLogicRowFuses, '0'));

  EXPECT_EQ(m.Handle({105, 1}), (Bytes{105, kLogicOk}));
  EXPECT_TRUE(m.LogicAccess());
  EXPECT_EQ(m.Handle({106}), (Bytes{106, 19}));
  EXPECT_EQ(m.Handle(row5), (Bytes{108, kLogicOk}));
  EXPECT_EQ(m.Handle(ues), (Bytes{110, kLogicOk}));

  // Both readings of the row; the signature characters.
  Bytes read5 = *m.Handle({107, 5});
  ASSERT_EQ(read5.size(), 481u);
  EXPECT_EQ(read5[0], 107);
  EXPECT_EQ(std::string(read5.begin() + 1, read5.begin() + 241), ones);
  EXPECT_EQ(std::string(read5.begin() + 241, read5.end()), ones);
  const Bytes read_ues = *m.Handle({109});
  ASSERT_EQ(read_ues.size(), 121u);
  EXPECT_EQ(std::string(read_ues.begin() + 1, read_ues.end()), EncodeUesText("B6001E7105"));

  // Bad rows and characters are refused; a row past the device reads short.
  Bytes bad = row5;
  bad[1] = 134;
  EXPECT_EQ(m.Handle(bad), (Bytes{108, kLogicBadRequest}));
  bad = row5;
  bad[100] = '2';
  EXPECT_EQ(m.Handle(bad), (Bytes{108, kLogicBadRequest}));
  EXPECT_EQ(m.Handle({107, 134}), Bytes{107});
  EXPECT_EQ(m.FuseRows()[5], ones);

  // Erasing turns everything to '0', only while access is on.
  EXPECT_EQ(m.Handle({105, 0}), (Bytes{105, kLogicOk}));
  EXPECT_EQ(m.Handle({112}), (Bytes{112, kLogicNoAccess}));
  EXPECT_EQ(m.FuseRows()[5], ones);
  m.Handle({105, 1});
  EXPECT_EQ(m.Handle({112}), (Bytes{112, kLogicOk}));
  EXPECT_EQ(m.FuseRows()[5], std::string(kLogicRowFuses, '0'));
  EXPECT_EQ(m.Ues(), std::string(kLogicUesBits, '0'));
}

TEST(ProbeModelControl, StartFirmwareCountsAndEndsLogicAccess) {
  ProbeModelOptions o;
  o.device_type = 18;
  ProbeModel m(o);
  m.Handle({105, 1});
  EXPECT_EQ(m.Handle({106}), (Bytes{106, 18}));
  EXPECT_EQ(m.Handle({113}), Bytes{113});
  EXPECT_EQ(m.FirmwareStarts(), 1u);
  EXPECT_FALSE(m.LogicAccess());
  // Codes the loader does not have, and an empty request.
  EXPECT_EQ(m.Handle({102}), (Bytes{102, 0xFF}));
  EXPECT_EQ(m.Handle({}), std::nullopt);
}

TEST(ProbeModelControl, LogsEveryRequestWhole) {
  ProbeModel m;
  m.Handle({114});
  m.Handle(Read(0x01008000, 104));
  m.Handle(Text("X"));
  ASSERT_EQ(m.Requests().size(), 3u);
  EXPECT_EQ(m.Requests()[1].code, 101);
  EXPECT_THAT(m.Requests()[1].payload, ElementsAreArray(Read(0x01008000, 104)));
  EXPECT_EQ(m.Requests()[2].code, 'X');
  m.ClearRequests();
  EXPECT_TRUE(m.Requests().empty());
}

TEST(ProbeModelControl, SnapshotAndRestore) {
  ProbeModel a;
  a.Handle(Program(0x01008000, {1, 2, 3}));
  a.Handle({113});
  ProbeModel b;
  ASSERT_TRUE(b.Restore(a.Snapshot()));
  EXPECT_EQ(b.ReadFlash(0x01008000, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(b.FirmwareStarts(), 1u);
  ProbeModel::State wrong = a.Snapshot();
  wrong.rows.pop_back();
  EXPECT_FALSE(b.Restore(wrong));
}

}  // namespace
}  // namespace krt::sim
