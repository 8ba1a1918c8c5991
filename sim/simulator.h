// The simulated probe on a pseudo-terminal. The tool opens the device side
// (the slave, DevicePath()) as it would open a serial adapter; the simulator
// reads and writes the master side on one line thread and answers as the
// probe's loader does.
//
// The line:
//   - The simulator keeps a descriptor of its own open on the device side, so
//     the line survives the tool closing and reopening it. That descriptor is
//     never read; it shows the terminal settings the tool has made (they are
//     shared), and so the rate the tool has set.
//   - The loader listens at one rate at a time (its start rate at first).
//     Bytes that arrive while the tool's rate differs are line noise: they are
//     dropped and the frame hunt starts afresh. Answer bytes that would leave
//     while the tool's rate differs are lost the same way.
//   - Link-level messages (header flag bit 0x10 clear): the speed probe
//     00 01 01 is answered with 00 01 01; the speed change 00 05 03 + rate is
//     answered with 00 05 03 + the rate the loader will use, and the loader
//     listens at that rate once the answer has left.
//   - Requests (flag bit set) whose header length equals the payload go to the
//     ProbeModel; the answer header carries the request's sequence bits, the
//     flag and the answer's length. Other frames are ignored.
//   - After the answer to StartFirmware (113) the loader listens at its start
//     rate again. The real probe would start its firmware; the simulator acts
//     as if the probe had been reset into its loader at once, so the next
//     connection works.
//   - With pacing, bytes leave at the line rate (10 bits a byte) in chunks of
//     about a millisecond of line time, on absolute times of a virtual line
//     clock, and a request counts as arrived only once its bytes would have
//     crossed the wire. The last chunk of each answer is written when its last
//     byte would arrive, to a few microseconds (the thread sleeps to shortly
//     before and spins the rest), so that the tool sees the answer complete
//     when the wire would deliver it and a late wake-up of the simulator is
//     not taken for the tool's time. The paced line thread asks for
//     real-time priority (SCHED_FIFO 1) and keeps going without it. Without
//     pacing every answer leaves at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/fault.h"
#include "sim/probe_model.h"

namespace krt::sim {

enum class MessageKind : std::uint8_t {
  kRequest,      // header flag set: a loader command
  kSpeedProbe,   // 00 01 01
  kSpeedChange,  // 00 05 03 + rate
  kOtherLink,    // any other link-level message (not answered)
};

// One message the simulator received and accepted as a frame.
struct LineMessage {
  MessageKind kind = MessageKind::kRequest;
  std::uint8_t header = 0;  // header byte 0: sequence in bits 7-6, flag 0x10, length bits 10-8
  std::uint32_t rate = 0;   // the rate it came at
  Bytes payload;            // the bytes after the two-byte header
  int sequence() const { return header >> 6; }
};

// What crossed the line since Start (restarts included), and how closely the
// paced answers kept to the line clock.
struct LineStats {
  // Every byte read from the line: frames with their escapes, wake-up bytes,
  // noise and bytes that came at another rate.
  std::uint64_t bytes_received = 0;
  // Every answer byte put on the line, also those sent while the tool listened
  // at another rate (they cross the wire as noise).
  std::uint64_t bytes_sent = 0;
  std::uint64_t frames_received = 0;  // frames accepted, of any kind
  std::uint64_t speed_probes = 0;
  std::uint64_t speed_changes = 0;
  std::uint64_t requests = 0;
  std::uint64_t answers = 0;  // answer frames sent
  // Pacing: how late each paced chunk, and each answer's last chunk, was
  // written after the time its last byte would have crossed the wire.
  std::uint64_t paced_chunks = 0;
  std::int64_t chunk_late_ns_total = 0;
  std::int64_t chunk_late_ns_max = 0;
  std::uint64_t paced_answers = 0;
  std::int64_t answer_late_ns_total = 0;
  std::int64_t answer_late_ns_max = 0;
  // The paced line thread runs with real-time priority (when allowed).
  bool realtime = false;
};

struct SimulatorOptions {
  ProbeModelOptions model;
  std::uint32_t rate = 9600;           // the start rate
  std::uint32_t answer_rate = 0;       // speed change: name and use this rate, whatever was asked
  std::uint32_t max_rate = 115200;     // the loader goes no higher; it names this rate instead
  bool pace = false;                   // bytes at the line rate
  std::uint32_t process_delay_ms = 0;  // before each answer
  std::vector<Fault> faults;
  std::string link_path;   // a symbolic link to the device path (replaced on restart)
  std::string state_path;  // the state file (loaded at start, written on stop and after 113)
  // Called on the line thread for every message received, outside the lock.
  std::function<void(const LineMessage&)> on_message;
};

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options = {});
  ~Simulator();  // Stop()
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Loads the state file, opens the pseudo-terminal, makes the link and starts
  // the line thread. False with `error` set (and nothing left open) when the
  // state file is refused or the terminal or link cannot be made.
  bool Start(std::string* error = nullptr);
  // Stops the line thread, writes the state file, removes the link and closes
  // the terminal. False when the state could not be written; the rest is done
  // anyway. Harmless when not running.
  bool Stop(std::string* error = nullptr);
  // After a hang-up (or at any time): a new pseudo-terminal at a new path,
  // the link pointed at it; the model keeps its state.
  bool Restart(std::string* error = nullptr);

  bool Running() const;
  bool HungUp() const { return hung_up_.load(); }
  std::string DevicePath() const;
  std::uint32_t ListeningRate() const { return listen_rate_.load(); }

  // The logs: every request the model received, and every message the line
  // accepted (link-level messages included). Both keep the newest entries up
  // to 64 MiB of payload.
  std::vector<RequestRecord> Requests() const;
  std::vector<LineMessage> Messages() const;
  void ClearLog();

  // The line's counters; ClearStats sets them to 0.
  LineStats Stats() const;
  void ClearStats();

  // The model's state.
  Bytes Flash(std::uint32_t address, std::size_t count) const;
  std::vector<std::string> FuseRows() const;
  std::string Ues() const;
  bool LogicAccess() const;
  std::uint32_t FirmwareStarts() const;
  ProbeModelOptions ModelOptions() const;
  // Replaces the reported values (see ProbeModel::SetOptions).
  void SetModelOptions(const ProbeModelOptions& options);

  // Faults; setting them restarts their counting and ends a silence.
  void SetFaults(std::vector<Fault> faults);
  void AddFault(const Fault& fault);
  std::vector<Fault> Faults() const;

  // The last error of the line thread (a state file that could not be
  // written after StartFirmware); empty when there was none.
  std::string LastError() const;

 private:
  struct Plan;
  struct ArmedFault {
    Fault fault;
    int seen = 0;
  };

  bool OpenLine(const std::string& avoid_path, std::string* error);
  void CloseLine();
  bool PointLink(std::string* error);
  void RemoveLink();
  bool StartThread(std::string* error);
  void StopThread();
  void Run();
  void HandleFrame(const std::uint8_t* data, std::size_t size, std::int64_t arrival_ns);
  Plan ArmFaults(int code, std::optional<int> row);
  static void SpoilAnswer(const Plan& plan, int code, Bytes& answer);
  std::uint32_t RateForSpeedChange(std::uint32_t asked) const;
  bool Transmit(const Bytes& frame, std::int64_t due_ns, std::uint32_t rate);
  bool WriteLine(const std::uint8_t* data, std::size_t size, std::uint32_t rate);
  // False when stopping. `precise`: to a few microseconds, spinning the last
  // stretch; otherwise as close as a sleep gets.
  bool WaitUntil(std::int64_t deadline_ns, bool precise = false);
  void CountLateness(std::int64_t late_ns, bool last_chunk);
  std::uint32_t ToolRate() const;
  void HangUp();

  const SimulatorOptions options_;

  mutable std::mutex mu_;  // guards everything below up to the line's descriptors
  ProbeModel model_;
  std::deque<LineMessage> messages_;
  std::size_t message_bytes_ = 0;
  std::vector<ArmedFault> faults_;
  bool silent_ = false;
  std::string device_path_;
  std::string last_error_;
  LineStats stats_;

  std::atomic<std::uint32_t> listen_rate_;
  std::atomic<bool> hung_up_{false};
  std::atomic<bool> stop_{false};

  // Touched by the line thread while it runs, else by the controlling calls.
  int master_fd_ = -1;
  int slave_fd_ = -1;
  int stop_fd_ = -1;
  std::thread line_;
  std::int64_t rx_clock_ns_ = 0;  // when the last byte received has crossed the wire
  std::int64_t tx_clock_ns_ = 0;  // when the last byte sent will have crossed the wire
};


}  // namespace krt::sim
