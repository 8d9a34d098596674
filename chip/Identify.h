// Knowing the chip on the cable: its signature read and matched against the
// device catalogue, its lock bits and fuses read back and put in words, the
// chip detected with each instruction set in turn, and, when nothing
// answered, what the lines showed and what to check.
//
// Everything here only reads. The instructions sent to a chip that has not
// shown yet which set it speaks are chosen so that a chip of the other set,
// taking them in its own framing, sees nothing but reads: no byte that could
// begin a write, an erase or a lock write of the three-byte set goes out
// before the chip has answered as a four-byte part.
#pragma once

#include "ChipOps.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qvx {

// "1E 52 06".
std::string HexBytes(std::span<const uint8_t> bytes);

// A signature as read.
struct SignatureRead {
    // Refused: the opening enable was not answered (its message shown);
    // Failed: a byte never read the same often enough (the line too noisy).
    OpResult Result = OpResult::Completed;
    // The bytes read at the addresses of the device asked about (a byte
    // that only a four-byte chip may be asked for is left out when the
    // others named no such chip).
    std::vector<uint8_t> Bytes;
    // The device whose signature the chip holds, read at its own addresses.
    const Device* Found = nullptr;

    // Neither all FF nor all 00, which a chip hiding its signature and a
    // line without a chip answering read alike.
    bool Readable() const;
};

// After an opening programming enable: the signature at the addresses of
// `s.Chip` and, when it is not that chip's, at the other devices' addresses
// too, to name the chip found. Each byte is read until its reads agree.
SignatureRead ReadSignature(ChipSession& s);

// The lock bits and user fuses a chip reads back.
struct ChipState {
    OpResult Result = OpResult::Completed; // Refused, or Completed
    std::optional<uint8_t> LockBits;       // bit n - 1 set: LBn programmed
    std::optional<uint8_t> Fuses;          // F4..F1 in bits 3..0, 0 = programmed
};

// After an opening enable of its own, as far as the part can read them back;
// a byte whose reads never agree is left out.
ChipState ReadChipState(ChipSession& s);

// "LB1 and LB2 programmed (mode 3)", "none programmed (mode 1)".
std::string LockBitsWords(uint8_t programmed);

// The state in words, one line each: "Lock bits: LB1 programmed (mode 2)",
// "x2 clock: off", "User fuses F4-F1: 1 0 1 0 (0 = programmed)", or what
// the part cannot read back.
std::vector<std::string> ChipStateLines(const Device& chip, const ChipState& state);

// What "Detect Chip" found.
struct DetectReport {
    enum class Kind {
        Found,     // the chip's signature names it
        FourByte,  // a chip took the four-byte enable, but its signature names
                   // no device: hidden (an AT89S51/52 in lock mode 3 or 4) or
                   // unknown
        ThreeByte, // a chip of the three-byte set: an AT89S53 or AT89S8252,
                   // which have no serial signature to tell them apart
        Nothing,   // no chip answered; Diagnosis says what the lines showed
    };
    Kind What = Kind::Nothing;
    const Device* Chip = nullptr;   // Found
    std::vector<uint8_t> Signature; // as read (Found, FourByte)
    ChipState State;                // Found, FourByte (read as an AT89S51/52)
    std::string Diagnosis;          // Nothing
};

// Enables the chip with the four-byte set, then with the three-byte set,
// reading the signature where there is one, and the lock bits and fuses of
// a chip found.
DetectReport DetectChip(LinkState& link, CodeBuffer& buffer);

// The report in words, one line each, the chip found or not found last.
std::vector<std::string> DetectLines(const DetectReport& report);

// When a command's target did not answer: what the lines showed during the
// command's programming enables, and what to check. It may read MISO once
// with the target out of reset to tell a line stuck low from a chip.
// Empty when no enable was seen.
std::string NoAnswerDiagnosis(LinkState& link);

} // namespace qvx
