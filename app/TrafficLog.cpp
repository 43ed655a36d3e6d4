#include "TrafficLog.h"

#include "LogOutput.h"
#include "Printable.h"

#include <algorithm>
#include <utility>

namespace {

// Written by hand rather than with snprintf: a line costs well under a microsecond even when the caches
// are cold after a pause, which is how the panel meets it.
void AppendDigits(std::string& out, int value, int width) {
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

void AppendTime(std::string& out, const TLogTime& time) {
    // 2026-12-08T17:06:45.123+01:00: each field with its width and the character after it.
    const int offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
    const struct {
        int value;
        int width;
        char after;
    } fields[] = {{time.year, 4, '-'},
                  {time.month, 2, '-'},
                  {time.day, 2, 'T'},
                  {time.hour, 2, ':'},
                  {time.minute, 2, ':'},
                  {time.second, 2, '.'},
                  {time.millisecond, 3, time.utcOffsetMinutes < 0 ? '-' : '+'},
                  {offset / 60, 2, ':'},
                  {offset % 60, 2, '\0'}};
    for (const auto& field : fields) {
        AppendDigits(out, field.value, field.width);
        if (field.after != '\0')
            out += field.after;
    }
}

} // namespace

std::string FormatLogLine(const TLogTime& time, std::string_view mark, std::string_view payload) {
    std::string line;
    // The time, two blanks, the line feed, and room for a few escapes.
    line.reserve(32 + mark.size() + payload.size() + 16);
    AppendTime(line, time);
    line += ' ';
    line += mark;
    line += ' ';
    proto::AppendPrintable(line, payload);
    line += '\n';
    return line;
}

std::unique_ptr<TTrafficLog> TTrafficLog::Open(const std::string& path, std::string& error,
                                               std::size_t queueLimit) {
    std::unique_ptr<TLogOutput> output = TLogOutput::Open(path, error);
    if (!output)
        return nullptr;
    return std::unique_ptr<TTrafficLog>(new TTrafficLog(std::move(output), path, queueLimit));
}

TTrafficLog::TTrafficLog(std::unique_ptr<TLogOutput> output, std::string path, std::size_t queueLimit)
    : output_(std::move(output)), file_(output_->IsFile()), path_(std::move(path)), queueLimit_(queueLimit),
      thread_([this] { Serve(); }) {}

TTrafficLog::~TTrafficLog() {
    Close();
    for (Line* line = queue_.exchange(nullptr); line;)
        delete std::exchange(line, line->next);
}

std::size_t TTrafficLog::Close() {
    if (!thread_.joinable())
        return 0;
    ending_ = true;
    output_->Wake();
    // Where a write waits for a reader who takes nothing (Windows), the log's thread cannot give up by
    // itself: once its time is up, the write is ended from here, as often as it takes.
    std::unique_lock lock(progressMutex_);
    std::chrono::milliseconds wait = kExitWait + std::chrono::milliseconds(500);
    while (!progress_.wait_for(lock, wait, [this] { return finished_; })) {
        output_->Interrupt();
        wait = std::chrono::milliseconds(50);
    }
    lock.unlock();
    thread_.join();
    return notWritten_;
}

void TTrafficLog::SetOnWriteFailure(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(handlerMutex_);
    onWriteFailure_ = std::move(handler);
}

void TTrafficLog::Connected(std::string_view port, std::string_view device) {
    Write("connect", std::string(port) + ' ' + std::string(device));
}

void TTrafficLog::Disconnected(std::string_view port, std::string_view device) {
    Write("disconnect", std::string(port) + ' ' + std::string(device));
}

void TTrafficLog::Write(std::string_view mark, std::string_view payload) {
    if (stopped_)
        return; // a line queued meanwhile is dropped by the log's thread
    std::string text = FormatLogLine(LogTimeNow(), mark, payload);
    const std::size_t size = text.size();
    // Once one is dropped, all are until the queue is taken: the count stands where they were.
    bool refused = dropped_ != 0;
    if (!refused && queuedBytes_.fetch_add(size) + size > queueLimit_) {
        queuedBytes_ -= size;
        refused = true;
    }
    if (refused) {
        ++dropped_;
        ++submitted_;
        return;
    }
    auto* line = new Line{std::move(text)};
    Line* head = queue_.load(std::memory_order_relaxed);
    do
        line->next = head;
    while (!queue_.compare_exchange_weak(head, line, std::memory_order_release, std::memory_order_relaxed));
    ++submitted_;
    // The thread empties the queue whenever it wakes: only the first line after that needs to wake it.
    if (!head)
        output_->Wake();
}

void TTrafficLog::WaitUntilWritten() {
    const std::uint64_t target = submitted_;
    std::unique_lock lock(progressMutex_);
    progress_.wait(lock, [&] { return done_ >= target || finished_ || stopped_; });
}

void TTrafficLog::Progress(std::uint64_t lines, bool finished) {
    {
        std::lock_guard lock(progressMutex_);
        done_ += lines;
        finished_ = finished_ || finished;
    }
    progress_.notify_all();
}

TTrafficLog::Batch TTrafficLog::Take() {
    // The wake-ups first: a line queued after the exchange below leaves one that the next wait sees.
    output_->TakeWakes();
    Batch batch;
    Line* line = queue_.exchange(nullptr, std::memory_order_acquire);
    batch.dropped = dropped_.exchange(0);
    std::size_t bytesTaken = 0;
    for (; line; delete std::exchange(line, line->next)) {
        bytesTaken += line->text.size();
        batch.lines.push_back(std::move(line->text));
    }
    queuedBytes_ -= bytesTaken;
    std::reverse(batch.lines.begin(), batch.lines.end());
    return batch;
}

void TTrafficLog::Serve() {
    LowerThreadPriority();
    using Clock = std::chrono::steady_clock;
    // Lines written since the last flush must be on the disk by `syncBy`: one flush per burst of lines.
    bool unsynced = false;
    Clock::time_point syncBy;
    for (;;) {
        Batch batch = Take();
        const std::uint64_t taken = batch.lines.size() + batch.dropped;
        if (taken != 0 && !stopped_) {
            std::string error;
            Outcome outcome = Outcome::Written;
            std::size_t written = 0;
            while (written < batch.lines.size() &&
                   (outcome = WriteLine(batch.lines[written], error)) == Outcome::Written)
                ++written;
            bool countWritten = batch.dropped == 0;
            if (outcome == Outcome::Written && !countWritten) {
                outcome = WriteLine(
                    FormatLogLine(LogTimeNow(), "!",
                                  std::to_string(batch.dropped) +
                                      " lines not logged: the log could not be written fast enough"),
                    error);
                countWritten = outcome == Outcome::Written;
            }
            if (outcome == Outcome::GaveUp) {
                const Batch rest = Take();
                notWritten_ = batch.lines.size() - written + (countWritten ? 0 : batch.dropped) +
                              rest.lines.size() + rest.dropped;
                Progress(taken, true);
                return;
            }
            if (outcome == Outcome::Failed) {
                unsynced = false;
                Stop(error);
            } else if (file_ && !unsynced) {
                unsynced = true;
                syncBy = Clock::now() + kSyncDelay;
            }
        }
        Progress(taken);
        const bool ending = ending_;
        const bool empty = queue_.load() == nullptr && dropped_ == 0;
        if (unsynced && ((ending && empty) || Clock::now() >= syncBy)) {
            unsynced = false;
            if (std::string error; !output_->Sync(error))
                Stop(error);
            continue;
        }
        if (ending && empty) {
            Progress(0, true);
            return;
        }
        if (ending || !empty)
            continue;
        std::optional<std::chrono::milliseconds> wait;
        if (unsynced)
            wait = std::chrono::ceil<std::chrono::milliseconds>(syncBy - Clock::now());
        output_->WaitWoken(wait);
    }
}

void TTrafficLog::Stop(const std::string& reason) {
    // Stopped before the handler runs, so whatever it sets off (a box, another report) logs nothing; what
    // is queued now or later is dropped as the thread takes it.
    stopped_ = true;
    Progress(0);
    std::lock_guard handler(handlerMutex_);
    if (onWriteFailure_)
        onWriteFailure_(reason);
}

bool TTrafficLog::WaitWritable() {
    using Clock = std::chrono::steady_clock;
    for (;;) {
        if (ending_ && !giveUpAt_)
            giveUpAt_ = Clock::now() + kExitWait;
        std::optional<std::chrono::milliseconds> timeout;
        if (giveUpAt_) {
            timeout = std::chrono::ceil<std::chrono::milliseconds>(*giveUpAt_ - Clock::now());
            if (timeout->count() <= 0)
                return false;
        }
        // Woken by new lines or the end: the lines wait on the queue, which is taken after this one.
        if (output_->WaitWritable(timeout))
            return true;
    }
}

TTrafficLog::Outcome TTrafficLog::WriteLine(const std::string& line, std::string& error) {
    // One write per line and no buffer of our own: each line is in the file as soon as it is written.
    std::size_t done = 0;
    while (done < line.size()) {
        std::size_t taken = 0;
        switch (output_->Write(line.data() + done, line.size() - done, taken, error)) {
        case TLogOutput::Status::Wrote:
            done += taken;
            continue;
        case TLogOutput::Status::Full:
            if (!WaitWritable())
                return Outcome::GaveUp;
            continue;
        case TLogOutput::Status::Interrupted:
            return Outcome::GaveUp;
        case TLogOutput::Status::Failed:
            break;
        }
        // A line cut short (the disk filled up in the middle of it) is taken back, so the file ends with
        // the last whole line.
        if (done > 0 && file_)
            output_->TakeBack(done);
        return Outcome::Failed;
    }
    return Outcome::Written;
}
