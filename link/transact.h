// The request transaction: the one road by which every loader command reaches
// the probe. It puts the two-byte request header before the payload, sends one
// frame, waits for the answer frame, checks the answer header's length and
// tries up to three times.
//
// Request header (and answer header):
//   byte 0: bits 7-6 sequence number, bit 4 the header flag (1), bits 2-0
//           bits 10-8 of the payload length
//   byte 1: bits 7-0 of the payload length
// Only the length of an answer header is looked at.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/result_code.h"

namespace krt {

inline constexpr int kMaxPayload = 1498;

// The shared buffers of the loader commands (they live in the link state).
std::uint8_t* RequestBuffer();
std::uint8_t* AnswerBuffer();

// Per-byte answer deadline: the time of the request and a full answer on the
// line at the current bit rate, plus the command's extra time, plus 200 ms.
std::uint32_t AnswerDeadlineMs(int request_size, std::uint32_t bit_rate, std::uint32_t extra_ms);

// Sends `size` request bytes and receives the answer payload into `answer`.
// Returns the answer payload length (0 or more), or kNoAnswer after three
// attempts without an acceptable answer, kRequestTooLong (nothing is sent and
// the sequence counter does not move), kLinkNotOpen, kAnswerTooLong.
ResultCode Transact(int size, const std::uint8_t* request, int capacity, std::uint8_t* answer,
                    std::uint32_t extra_ms);

// Big-endian accessors; each returns the position just after what it wrote or
// read.
std::size_t PutByte(std::uint8_t* buffer, std::size_t pos, std::uint8_t value);
std::size_t PutU16(std::uint8_t* buffer, std::size_t pos, std::uint16_t value);
std::size_t PutU32(std::uint8_t* buffer, std::size_t pos, std::uint32_t value);
std::size_t GetByte(const std::uint8_t* buffer, std::size_t pos, std::uint8_t& value);
std::size_t GetU16(const std::uint8_t* buffer, std::size_t pos, std::uint16_t& value);
std::size_t GetU32(const std::uint8_t* buffer, std::size_t pos, std::uint32_t& value);

}  // namespace krt
