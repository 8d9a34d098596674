// A cable whose own firmware clocks the serial programming instructions: an
// Arduino running the ArduinoISP sketch, a USBasp. The program hands it whole
// four-byte instructions; the firmware drives RST, SCK and MOSI itself, at a
// clock and in an SPI mode of its own, and enters programming mode with a
// reset and a programming enable of its own.
//
// To the program it looks like the parallel-port cable on either LPT
// address. Data bit 4 (RST) follows the program/run mode: RST falling with
// a run-mode line (data bit 3 or 7) high is run mode, and the cable leaves
// programming mode at once, letting the target run; a programming enable
// instruction (AC 53 ...) after RST has fallen enters it again through the
// firmware, which is how the link's reset pulse and enable reach the chip.
// Other instructions go to the chip only while the cable is in programming
// mode; otherwise they are refused as the parallel port's sense line refuses
// them. SCK and MOSI changes are the firmware's business and are ignored.
#pragma once

#include "PortAccess.h"

#include <string>

namespace qvx {

class InstructionCable : public PortAccess {
public:
    void SetPortBit(uint16_t port, uint8_t bit) override { WriteDataBit(port, bit, true); }
    void ClrPortBit(uint16_t port, uint8_t bit) override { WriteDataBit(port, bit, false); }
    // The sense reads RST's own level; MISO reads 1 (the firmware has it).
    bool GetPortBit(uint16_t port, uint8_t bit) override;
    bool IsDriverInstalled() override { return Ready(); }
    std::string Failure() const override { return failure_; }

    ExchangeResult ExchangeInstructions(uint16_t dataPort, const SerialClock& clock, std::span<const uint8_t> out,
                                        std::span<uint8_t> in, std::span<const ExchangePause> pauses) override;
    size_t LongestInstruction() const override { return 4; }
    // Four-byte instructions in SPI mode 0, at a crystal whose SCK limit the
    // firmware's slowest clock keeps.
    std::string TargetRefusal(const TargetNeeds& needs) override;

protected:
    // The cable in messages: "Arduino as ISP", "USBasp".
    virtual std::string CableName() const = 0;
    // Opens the cable (once); false when it cannot be used.
    virtual bool Ready() = 0;
    // The firmware's reset and programming enable; `answer` (as long as
    // `enable`) gets the chip's answer to the program's enable instruction.
    // False when the cable failed (Fail has been called).
    virtual bool EnterProgramming(const SerialClock& clock, std::span<const uint8_t> enable,
                                  std::span<uint8_t> answer) = 0;
    // RST released: the target runs. False when the cable failed.
    virtual bool LeaveProgramming() = 0;
    // Whole four-byte instructions, with SCK low at least as long as
    // `pauses` say before theirs; each instruction's answer byte (the chip's
    // byte during its fourth) lands at its fourth index of `in`, and any other
    // byte the firmware reports at its own. False when the cable failed.
    virtual bool Transmit(std::span<const uint8_t> out, std::span<uint8_t> in,
                          std::span<const ExchangePause> pauses) = 0;
    // The longest SCK phase the firmware can clock, in nanoseconds, and how
    // it says so: "clocks SCK at 125 kHz".
    virtual int64_t SlowestSckPhaseNs() const = 0;
    virtual std::string SckText() const = 0;

    // The cable failed while in use: remembered as the failure every later
    // transfer is refused with, and said on standard error.
    void Fail(const std::string& what);
    // The chip the command layer last asked about.
    const TargetNeeds& Target() const { return target_; }
    bool InProgramming() const { return programming_; }

private:
    void WriteDataBit(uint16_t port, uint8_t bit, bool value);

    std::string failure_;
    TargetNeeds target_;
    uint8_t data_ = 0;
    bool programming_ = false; // the firmware holds the chip in programming mode
    bool reset_ = true;        // RST has fallen since programming was entered
};

} // namespace qvx
