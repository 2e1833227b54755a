#include "core/capture/capture_session.h"

#include <algorithm>

#include "core/capture/memory_ceiling.h"

namespace osc {

CaptureSession::CaptureSession(CaptureEngine& engine, DeviceLink& link, Clock clockMs)
    : engine_(engine), link_(link), clockMs_(std::move(clockMs)) {}

void CaptureSession::chooseDevice(const std::string& address) {
    engine_.state.FDeviceId = {};
    address_ = address;
    deviceChosen_ = true;
    counts_.foreign = 0;
    counts_.lastForeign.reset();
    try {
        senders_ = link_.deviceSenders(address_);
    } catch (const std::exception&) {
        senders_ = std::vector<PeerAddress>{};  // nothing is the device's until it resolves
    }
}

void CaptureSession::forgetDevice() {
    engine_.state.FDeviceId = {};
    address_.clear();
    deviceChosen_ = false;
    senders_.reset();
}

void CaptureSession::setAddress(const std::string& address) {
    address_ = address;
    if (deviceChosen_) {
        resolveSenders();
    }
}

void CaptureSession::resolveSenders() {
    try {
        senders_ = link_.deviceSenders(address_);
    } catch (const std::exception&) {
        // The send itself resolved it a moment ago: the senders known so far stay.
    }
}

void CaptureSession::requestIdentity() {
    link_.send(address_, identityRequest());
    if (deviceChosen_) {
        resolveSenders();
    }
}

void CaptureSession::sendStart() {
    link_.send(address_, startCommand(engine_.state.FDeviceId));
    if (deviceChosen_) {
        resolveSenders();
    }
}

void CaptureSession::sendStop() {
    link_.send(address_, stopCommand(engine_.state.FDeviceId));
}

void CaptureSession::begin() {
    if (capturing_ && recorder_ != nullptr) {
        recorder_->end();  // a capture still running: its recording ends before the next begins
    }
    engine_.restartTraces();
    limit_ = memoryLimit_ > 0 ? memoryLimit_ : defaultMemoryLimit(readMemoryBudget());
    held_ = 0;
    ceilingReached_ = false;
    counts_ = CaptureCounts{};
    receiverDropsBase_ = link_.receiverDrops();
    startedMs_ = clockMs_();
    lastHeardMs_ = startedMs_;
    heardCount_ = 0;
    capturing_ = true;
    if (recorder_ != nullptr) {
        recorder_->begin();
    }
}

void CaptureSession::end(const std::function<void(std::uint64_t steps)>& progress) {
    engine_.closeTraces();
    engine_.completeTraces(progress);
    const bool wasCapturing = capturing_;
    capturing_ = false;
    if (wasCapturing && recorder_ != nullptr) {
        recorder_->end();
    }
}

void CaptureSession::start() {
    resetTimeBase();
    begin();
    sendStart();
}

void CaptureSession::stop(const std::function<void(std::uint64_t steps)>& progress) {
    sendStop();
    end(progress);
}

bool CaptureSession::timeUp() const {
    return capturing_ && durationMs_ > 0 && clockMs_() - startedMs_ >= durationMs_;
}

bool CaptureSession::deviceSilent() {
    if (!capturing_) {
        return false;
    }
    const std::int64_t now = clockMs_();
    if (counts_.fromDevice != heardCount_) {
        heardCount_ = counts_.fromDevice;
        lastHeardMs_ = now;
    }
    return now - lastHeardMs_ >= kSilenceMs;
}

Admission CaptureSession::admit(const std::optional<PeerAddress>& from) {
    ++counts_.received;
    if (!deviceChosen_ || !from || !senders_ ||
        std::find(senders_->begin(), senders_->end(), *from) != senders_->end()) {
        ++counts_.fromDevice;
        return Admission::Device;
    }
    ++counts_.foreign;
    counts_.lastForeign = *from;
    return acceptAny_ ? Admission::ForeignTaken : Admission::ForeignLeftOut;
}

void CaptureSession::record(std::span<const std::uint8_t> datagram, Admission admission) {
    if (capturing_ && recorder_ != nullptr && admission != Admission::ForeignLeftOut) {
        recorder_->append(datagram, admission == Admission::ForeignTaken);
    }
}

DatagramKind CaptureSession::decode(std::span<const std::uint8_t> datagram, Admission admission) {
    if (admission == Admission::ForeignLeftOut) {
        return classifyDatagram(datagram);
    }
    ++counts_.taken;
    counts_.takenBytes += datagram.size();
    const DatagramKind kind = classifyDatagram(datagram);
    if (kind == DatagramKind::IdentityReply && admission != Admission::Device) {
        return kind;  // never the device's identity
    }
    return engine_.decodeDatagram(datagram);
}

Admission CaptureSession::consume(std::span<const std::uint8_t> datagram,
                                  const std::optional<PeerAddress>& from) {
    const Admission admission = admit(from);
    if (admission == Admission::ForeignLeftOut) {
        return admission;
    }
    if (capturing_) {
        record(datagram, admission);
        decode(datagram, admission);
    } else if (classifyDatagram(datagram) == DatagramKind::IdentityReply) {
        decode(datagram, admission);
    }
    return admission;
}

bool CaptureSession::checkCeiling() {
    if (!capturing_ || ceilingReached_) {
        return false;
    }
    held_ = traceMemoryBytes(engine_.traces) + (heldElsewhere_ ? heldElsewhere_() : 0);
    if (!MemoryCeiling(limit_).mustStop(held_)) {
        return false;
    }
    ceilingReached_ = true;
    return true;
}

CaptureCounts CaptureSession::counts() const {
    CaptureCounts c = counts_;
    const std::uint64_t drops = link_.receiverDrops();
    c.receiverDrops = drops >= receiverDropsBase_ ? drops - receiverDropsBase_ : drops;
    if (recorder_ != nullptr) {
        c.notWritten = recorder_->dropped();
    }
    return c;
}

}  // namespace osc
