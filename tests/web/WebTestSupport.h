#pragma once
// What the web tests share: a counting event pump, a recorder of work
// events, and a client wired to both.

#include "platform/EventPump.h"
#include "tests/support/ManualClock.h"
#include "web/AntiFreeze.h"
#include "web/HttpClient.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cstring>

namespace vz::test {

class CountingPump final : public EventPump {
public:
    void ProcessPendingMessages() override { ++count; }
    std::atomic<int> count{0};
};

// Work events as text: "begin 0 12", "work 0 5", "end 0".
struct WorkLog {
    QStringList events;
    void Attach(HttpClient& client) {
        client.OnWorkBegin = [this](int mode, qint32 max) { events << QStringLiteral("begin %1 %2").arg(mode).arg(max); };
        client.OnWork = [this](int mode, qint32 count) { events << QStringLiteral("work %1 %2").arg(mode).arg(count); };
        client.OnWorkEnd = [this](int mode) { events << QStringLiteral("end %1").arg(mode); };
    }
    QStringList Filter(const QString& prefix) const { return events.filter(prefix); }
};

// A request body held in memory; `announced` may differ from the bytes it has.
class BytesBody final : public RequestBody {
public:
    explicit BytesBody(QByteArray bytes, qint64 announced = -1)
        : bytes_(std::move(bytes)), announced_(announced < 0 ? bytes_.size() : announced) {}
    qint64 Length() const override { return announced_; }
    QString ContentType() const override { return QStringLiteral("application/octet-stream"); }
    void Rewind() override { position_ = 0; }
    qint64 Read(char* buffer, qint64 count) override {
        const qint64 n = std::min<qint64>(count, bytes_.size() - position_);
        std::memcpy(buffer, bytes_.constData() + position_, size_t(n));
        position_ += n;
        return n;
    }

private:
    QByteArray bytes_;
    qint64 announced_;
    qint64 position_ = 0;
};

struct ClientFixture {
    CountingPump pump;
    AntiFreeze antiFreeze{pump};
    ManualClock clock;
    HttpClient client{antiFreeze, clock};
    WorkLog work;
    ClientFixture() { work.Attach(client); }
};

}  // namespace vz::test
