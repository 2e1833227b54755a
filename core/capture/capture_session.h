#pragma once
// One capture of one device, whoever drives it (the window, the command line's capture, a
// recorder of several devices): the device's address and the senders its datagrams come from,
// the identity request, the start and stop commands, the datagrams handed to it with their
// senders, the recording of each one as it arrives, the memory ceiling, the end time, a device
// that falls silent, and the counts.
//
// The session owns no socket: whoever owns the endpoint takes the datagrams and hands each one
// to consume(), or to the steps it is made of (admit, record, decode) when something of its own
// must run between them, so that one socket can feed several sessions. Commands go out through a
// DeviceLink. Time comes from the clock given (milliseconds of a steady clock); it is read when
// a capture begins and when the caller asks (timeUp, deviceSilent), never per datagram.
//
// Senders: once a device is chosen, a datagram from a sender that is not the device's (as
// DeviceLink::deviceSenders tells, resolved at the choice and after every command) is foreign:
// counted, and left out of the capture unless any sender is accepted. Even then an identity
// reply from another sender never replaces the device's identity. Without a chosen device, or
// over a link that cannot tell senders apart, every datagram counts as the device's.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/files/osc_line_writer.h"
#include "core/protocol/datagram.h"

namespace osc {

// What a session needs of the endpoint that carries its device's datagrams.
class DeviceLink {
  public:
    virtual ~DeviceLink() = default;
    // Sends the bytes to the device at `address`, resolved anew. Throws a std::exception when
    // the address cannot be resolved or the datagram cannot be sent.
    virtual void send(const std::string& address, std::span<const std::uint8_t> bytes) = 0;
    // The senders whose datagrams are those of the device at `address`; nothing when the link
    // cannot tell senders apart. Throws as send() for an address that cannot be resolved.
    virtual std::optional<std::vector<PeerAddress>> deviceSenders(const std::string& address) = 0;
    // Datagrams this computer dropped before handing them on (a full receive buffer or queue,
    // too long, receive errors): a running total.
    virtual std::uint64_t receiverDrops() const = 0;
};

// Where a session writes the datagrams of its capture as they arrive (the window's journal,
// the command line's recording file).
class CaptureRecorder {
  public:
    virtual ~CaptureRecorder() = default;
    virtual void begin() noexcept {}  // a capture starts
    // foreign: from another sender than the device, taken because any sender is accepted.
    virtual void append(std::span<const std::uint8_t> datagram, bool foreign) noexcept = 0;
    virtual void end() noexcept {}  // the capture has stopped
    // Datagrams of this capture appended but not written, because the disk did not keep up.
    virtual OscLineDrops dropped() const = 0;
};

// How a datagram is taken.
enum class Admission {
    Device,         // from the device (or no device chosen, or senders not told apart)
    ForeignTaken,   // from another sender, taken because any sender is accepted
    ForeignLeftOut  // from another sender, counted and left out
};

struct CaptureCounts {
    std::uint64_t received = 0;  // datagrams handed to the session
    std::uint64_t fromDevice = 0;
    std::uint64_t foreign = 0;  // from other senders, taken or left out
    std::optional<PeerAddress> lastForeign;
    std::uint64_t taken = 0;  // into the capture (recorded and decoded)
    std::uint64_t takenBytes = 0;
    std::uint64_t receiverDrops = 0;  // dropped by this computer before they were handed on
    OscLineDrops notWritten;          // taken but not recorded: the disk did not keep up
};

class CaptureSession {
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds of a steady clock

    CaptureSession(CaptureEngine& engine, DeviceLink& link, Clock clockMs);

    // --- Settings (between captures, or at any time for acceptAnySender) ---
    // Every sender's datagrams are taken into the capture; off by default.
    void setAcceptAnySender(bool on) { acceptAny_ = on; }
    bool acceptAnySender() const { return acceptAny_; }
    // The recorder of the next captures; none: nothing is recorded.
    void setRecorder(CaptureRecorder* recorder) { recorder_ = recorder; }
    // The memory ceiling's limit in bytes; 0: the default share of what the system can give,
    // read at each start.
    void setMemoryLimit(std::uint64_t bytes) { memoryLimit_ = bytes; }
    // What else the capture holds in memory (a trace log), counted against the ceiling.
    void setHeldElsewhere(std::function<std::uint64_t()> held) { heldElsewhere_ = std::move(held); }
    // How long a capture runs, from its start; 0: until it is stopped.
    void setDuration(std::int64_t ms) { durationMs_ = ms; }
    static constexpr std::int64_t kSilenceMs = 2000;

    // --- The device ---
    // The device at `address`: identity forgotten (FDeviceId zero), its senders resolved (an
    // address that does not resolve has none yet: every datagram is foreign until a command to
    // it resolves). Counts of foreign datagrams start again.
    void chooseDevice(const std::string& address);
    // No device: identity and address forgotten, every sender accepted.
    void forgetDevice();
    bool deviceChosen() const { return deviceChosen_; }
    const std::string& address() const { return address_; }
    // The address without forgetting anything else (the window's FDeviceAddress set directly).
    void setAddress(const std::string& address);
    bool identified() const { return !isZero(engine_.state.FDeviceId); }
    const DeviceId& identity() const { return engine_.state.FDeviceId; }

    // --- Commands (each throws what the link throws; nothing after the send then runs) ---
    void requestIdentity();  // "GD"
    void sendStart();        // "DD", identity, "6"
    void sendStop();         // "DD", identity, "7"

    // --- The capture ---
    void resetTimeBase() { engine_.resetTimeBase(); }
    // Traces restarted, the ceiling set, the recorder begun, counts from 0: capturing. A capture
    // still running is not completed, but its recording is ended first (the recorder sees every
    // begin matched by an end).
    void begin();
    // Closing points, the completion (progress as CaptureEngine::completeTraces), the recorder
    // ended: not capturing.
    void end(const std::function<void(std::uint64_t steps)>& progress = {});
    // Time base reset, begin, start command.
    void start();
    // Stop command, then end (not run when the command fails).
    void stop(const std::function<void(std::uint64_t steps)>& progress = {});
    bool capturing() const { return capturing_; }
    // The capture has run its duration.
    bool timeUp() const;
    // The device has sent nothing for kSilenceMs during the capture (checked at each call: a
    // datagram of the device seen between two calls counts at the later one).
    bool deviceSilent();

    // --- Datagrams ---
    // The whole path of a received datagram: admit; unless left out, record and decode. Between
    // captures only an identity reply is decoded (a stream left running by an earlier capture
    // does not run through the decoder).
    Admission consume(std::span<const std::uint8_t> datagram,
                      const std::optional<PeerAddress>& from);
    // Whose the datagram is (counted); from: nothing when the sender is not known.
    Admission admit(const std::optional<PeerAddress>& from);
    // Into the recorder while capturing.
    void record(std::span<const std::uint8_t> datagram, Admission admission);
    // Through the decoder (an identity reply of another sender is counted and not decoded).
    DatagramKind decode(std::span<const std::uint8_t> datagram, Admission admission);
    // True once per capture, when what it holds could pass the memory limit with its next
    // growth: the caller stops it.
    bool checkCeiling();
    std::uint64_t heldBytes() const { return held_; }  // at the last check
    std::uint64_t memoryLimit() const { return limit_; }

    // The counts since the last begin (or device choice); drops read now.
    CaptureCounts counts() const;

  private:
    void resolveSenders();  // after a command: the address is resolved anew

    CaptureEngine& engine_;
    DeviceLink& link_;
    Clock clockMs_;
    CaptureRecorder* recorder_ = nullptr;
    std::function<std::uint64_t()> heldElsewhere_;
    bool acceptAny_ = false;
    std::uint64_t memoryLimit_ = 0;
    std::int64_t durationMs_ = 0;

    std::string address_;
    bool deviceChosen_ = false;
    std::optional<std::vector<PeerAddress>> senders_;  // nothing: the link cannot tell

    bool capturing_ = false;
    bool ceilingReached_ = false;
    std::uint64_t limit_ = 0;
    std::uint64_t held_ = 0;
    std::int64_t startedMs_ = 0;
    std::int64_t lastHeardMs_ = 0;
    std::uint64_t heardCount_ = 0;  // fromDevice at the last silence check
    std::uint64_t receiverDropsBase_ = 0;
    CaptureCounts counts_;
};

}  // namespace osc
