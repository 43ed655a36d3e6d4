#pragma once
// A scripted serial device: records every call in order (writes apart: they come in pieces from the event
// thread), fails the operations a test names, takes as much output as the test allows, and serves event
// sets and received bytes that the test pushes.
#include "SerialDevice.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class TFakeSerialDevice final : public ISerialDevice {
public:
    // Shared with the test, which keeps a pointer after handing the device to a TSerial.
    std::vector<std::string> Calls() {
        std::lock_guard lock(m_);
        return calls_;
    }
    void ClearCalls() {
        std::lock_guard lock(m_);
        calls_.clear();
    }
    // Makes the named operation ("Open", "ApplyDcb", "Write", ...) fail with `code` from now on.
    void Fail(const std::string& op, int code) {
        std::lock_guard lock(m_);
        failures_[op] = code;
    }
    // Queues one event set for WaitEvent, with bytes that become readable with it.
    void Push(std::uint32_t events, const std::string& bytes = {}) {
        {
            std::lock_guard lock(m_);
            events_.push_back(events);
            input_ += bytes;
        }
        cv_.notify_all();
    }
    // Makes the next WaitEvent fail (device lost).
    void FailWait(int code) {
        {
            std::lock_guard lock(m_);
            waitFailure_ = code;
        }
        cv_.notify_all();
    }
    void SetModemBits(std::uint32_t bits) {
        std::lock_guard lock(m_);
        modem_ = bits;
    }
    std::string Written() {
        std::lock_guard lock(m_);
        return written_;
    }
    TDcb LastDcb() {
        std::lock_guard lock(m_);
        return dcb_;
    }
    std::uint32_t LastWanted() {
        std::lock_guard lock(m_);
        return wanted_;
    }
    int Waits() {
        std::lock_guard lock(m_);
        return waits_;
    }

    int Open(const std::string& name) override { return Record("Open " + name, "Open"); }
    int Close() override { return Record("Close", "Close"); }
    int SetupQueues(std::uint16_t rx, std::uint16_t tx) override {
        return Record("SetupQueues " + std::to_string(rx) + " " + std::to_string(tx), "SetupQueues");
    }
    int ApplyDcb(const TDcb& dcb) override {
        std::lock_guard lock(m_);
        dcb_ = dcb;
        return RecordLocked("ApplyDcb", "ApplyDcb");
    }
    int ApplyTimeouts(const TCommTimeouts&) override { return Record("ApplyTimeouts", "ApplyTimeouts"); }
    int SetEventMask(std::uint32_t mask) override {
        const int code = Record("SetEventMask " + std::to_string(mask), "SetEventMask");
        Wake();
        return code;
    }
    void SetModemLine(int line, bool state) override {
        Record(std::string(state ? "Raise " : "Drop ") + (line == kLineDtr ? "DTR" : "RTS"), "");
    }
    // How many more bytes the device takes (default: any number); more room wakes a waiting writer.
    void SetWriteRoom(std::size_t bytes) {
        {
            std::lock_guard lock(m_);
            room_ = bytes;
        }
        cv_.notify_all();
    }
    int Purge() override { return Record("Purge", "Purge"); }
    // What the driver's output queue holds at each count from now on, the last one repeated.
    void SetOutputQueued(std::deque<std::int32_t> counts) {
        std::lock_guard lock(m_);
        outQueued_ = std::move(counts);
    }
    int QueueCounts(std::int32_t& rx, std::int32_t& tx) override {
        std::lock_guard lock(m_);
        rx = static_cast<std::int32_t>(input_.size());
        tx = outQueued_.empty() ? 0 : outQueued_.front();
        if (outQueued_.size() > 1)
            outQueued_.pop_front();
        return RecordLocked("QueueCounts", "QueueCounts");
    }
    int Write(const char* data, std::size_t size, std::size_t& written) override {
        std::lock_guard lock(m_);
        written = 0;
        if (const auto it = failures_.find("Write"); it != failures_.end() && it->second != 0)
            return it->second;
        written = std::min(size, room_);
        room_ -= written;
        written_.append(data, written);
        return 0;
    }
    int WaitEvent(std::uint32_t wanted, std::uint32_t& events, int) override {
        std::unique_lock lock(m_);
        ++waits_;
        wanted_ = wanted;
        const bool output = wanted & DeviceEvent::Writable;
        cv_.wait(lock,
                 [&] { return woken_ || !events_.empty() || waitFailure_ != 0 || (output && room_ > 0); });
        events = 0;
        if (output && room_ > 0 && !woken_) {
            events = DeviceEvent::Writable;
            return 0;
        }
        if (woken_) {
            woken_ = false;
            return 0;
        }
        if (waitFailure_ != 0)
            return waitFailure_;
        events = events_.front();
        events_.pop_front();
        return 0;
    }
    void Wake() override {
        {
            std::lock_guard lock(m_);
            woken_ = true;
        }
        cv_.notify_all();
    }
    int Read(char* buffer, std::size_t size, int, std::size_t& got) override {
        std::lock_guard lock(m_);
        got = std::min(size, input_.size());
        input_.copy(buffer, got);
        input_.erase(0, got);
        return failures_.count("Read") ? failures_["Read"] : 0;
    }
    std::uint32_t ModemStatus() override {
        std::lock_guard lock(m_);
        return modem_;
    }
    TLineErrors LineErrors() override { return {}; }

private:
    int Record(const std::string& call, const std::string& op) {
        std::lock_guard lock(m_);
        return RecordLocked(call, op);
    }
    int RecordLocked(const std::string& call, const std::string& op) {
        calls_.push_back(call);
        const auto it = failures_.find(op);
        return it == failures_.end() ? 0 : it->second;
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::string> calls_;
    std::map<std::string, int> failures_;
    std::deque<std::uint32_t> events_;
    std::string input_;
    std::string written_;
    std::size_t room_ = SIZE_MAX;
    std::deque<std::int32_t> outQueued_;
    TDcb dcb_;
    std::uint32_t modem_ = 0;
    std::uint32_t wanted_ = 0;
    int waits_ = 0;
    int waitFailure_ = 0;
    bool woken_ = false;
};
