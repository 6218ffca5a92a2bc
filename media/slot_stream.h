#pragma once
// Frame slots on their way: a source gives one slot at a time (a KAVQ1 file,
// the import encoder, the card), a sink takes them (the card, a file, the
// ProRes converter), and PumpSlots moves them from one to the other with
// progress and Stop. Every add, read back, encode and export is one pump.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace rk {

class CSDCard;
class IOperator;
class KAVQ1FileConverter;
class KAVQ1FileEncoder;

class ISlotSource {
public:
    virtual ~ISlotSource() = default;
    // Fills `slot` (`bytes` long). 1: a slot was filled; 0: no slot left;
    // -1: the source failed (Cause() may say why).
    virtual int Next(uint8_t* slot, size_t bytes) = 0;
    virtual std::string Cause() const { return std::string(); }
};

class ISlotSink {
public:
    virtual ~ISlotSink() = default;
    // Takes one slot; false when it could not (Cause() may say why).
    virtual bool Put(const uint8_t* slot, size_t bytes) = 0;
    virtual std::string Cause() const { return std::string(); }
};

// Slots of a KAVQ1-like file read in turn from an open descriptor, from
// byte `offset` on.
class CFileSlotSource : public ISlotSource {
public:
    explicit CFileSlotSource(int fd, uint64_t offset = 0) : fd_(fd), offset_(offset) {}
    int Next(uint8_t* slot, size_t bytes) override;
    std::string Cause() const override { return cause_; }
    uint64_t Offset() const { return offset_; }

protected:
    int fd_;
    uint64_t offset_;
    std::string cause_;
};

// Checks the heads of `count` slots of `slotBytes` lying in a file from byte
// `offset` on, before any of them is copied: for each, its head cluster's
// first 32 bytes and its frame's 32-byte header are read into a buffer laid
// out as a slot (zero elsewhere) and `fault` is asked about slot `index`.
// Empty when every slot passes; else "frame N of M: what" (N from 1), or
// why the file could not be read there.
using SlotFaultCheck = std::function<const char*(const uint8_t* slot, size_t bytes, uint32_t index)>;
std::string FirstSlotFault(int fd, uint64_t offset, uint32_t count, uint64_t slotBytes, const SlotFaultCheck& fault);

// Slots from the import encoder; the rest of each slot behind the frame is zero.
class CEncoderSlotSource : public ISlotSource {
public:
    explicit CEncoderSlotSource(KAVQ1FileEncoder& encoder) : enc_(encoder) {}
    int Next(uint8_t* slot, size_t bytes) override;
    // Why the encoder gave no frame at all (the decode tool failed on the source).
    std::string Cause() const override;

private:
    KAVQ1FileEncoder& enc_;
};

// An item's frame slots read from the card: `readClusters` of every frame,
// frames `strideClusters` apart from `first` on.
class CCardSlotSource : public ISlotSource {
public:
    CCardSlotSource(CSDCard& card, uint32_t first, uint32_t strideClusters, uint32_t readClusters)
        : card_(card), next_(first), stride_(strideClusters), read_(readClusters) {}
    int Next(uint8_t* slot, size_t bytes) override;

private:
    CSDCard& card_;
    uint64_t next_;
    uint32_t stride_, read_;
};

// Slots written to the card: `writeClusters` of each slot, slots
// `strideClusters` apart from `first` on.
class CCardSlotSink : public ISlotSink {
public:
    CCardSlotSink(CSDCard& card, uint32_t first, uint32_t strideClusters, uint32_t writeClusters)
        : card_(card), next_(first), stride_(strideClusters), write_(writeClusters) {}
    bool Put(const uint8_t* slot, size_t bytes) override;

private:
    CSDCard& card_;
    uint64_t next_;
    uint32_t stride_, write_;
};

// Slots appended to an open file, `bytes` of each (all of it when 0).
class CFileSlotSink : public ISlotSink {
public:
    explicit CFileSlotSink(int fd, size_t bytesPerSlot = 0) : fd_(fd), bytes_(bytesPerSlot) {}
    bool Put(const uint8_t* slot, size_t bytes) override;
    std::string Cause() const override { return cause_; }

private:
    static constexpr size_t kWriteBehindBytes = size_t(8) << 20;
    int fd_;
    size_t bytes_;
    size_t unsent_ = 0;  // written since the last write-back was started
    std::string cause_;
};

// Slots decoded and sent to the ProRes converter.
class CProResSlotSink : public ISlotSink {
public:
    explicit CProResSlotSink(KAVQ1FileConverter& converter) : conv_(converter) {}
    bool Put(const uint8_t* slot, size_t bytes) override;
    std::string Cause() const override;

private:
    KAVQ1FileConverter& conv_;
};

enum class PumpStatus : int {
    kOk = 0,      // every slot asked for was moved, or the source ended after at least one
    kReadError,   // the source failed (or gave nothing at all, where that counts)
    kWriteError,  // the sink failed
    kStopped,     // PumpMessages answered Stop
};

// How a pump keeps the person informed. Writing to the card pumps the
// messages before and after each slot and counts a slot done once written;
// reading back pumps once a slot, between reading and writing it.
struct PumpRules {
    bool pumpBeforePut = true;
    bool pumpAfterPut = true;
    // SetProgress(index + progressOffset + progressBase) after slot `index`
    // (nothing when false: the caller's progress counts something else).
    bool reportProgress = true;
    int64_t progressOffset = 1;
    int64_t progressBase = 0;
    // A source that ends before its first slot has failed (with what its
    // Cause() says).
    bool emptySourceFails = true;
    // Called after slot `index` was put (the thumbnail maker takes its copy here).
    std::function<void(uint64_t index, const uint8_t* slot)> afterPut;
};

struct PumpResult {
    PumpStatus status = PumpStatus::kOk;
    uint64_t moved = 0;
    std::string cause;  // why the source or sink failed, when it said
};

// Moves up to `count` slots of `slotBytes` through `buffer` (at least that
// long). No allocation; the caller owns the progress protocol around it.
PumpResult PumpSlots(IOperator& op, ISlotSource& source, ISlotSink& sink, uint64_t count, uint8_t* buffer,
                     size_t slotBytes, const PumpRules& rules = PumpRules());

}  // namespace rk
