#pragma once
// The peak resident size of this process around a call, from
// /proc/self/status: the peak is reset first (writing 5 to
// /proc/self/clear_refs), so what is read afterwards is the highest the
// call drove it.

#include <QByteArray>
#include <QFile>
#include <QtGlobal>

namespace vz::test {

class PeakMemory {
public:
    // Resets the peak; false when this kernel cannot.
    bool Reset() {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1) return false;
        clear.close();
        startKb_ = Field("VmRSS:");
        return startKb_ >= 0 && Field("VmHWM:") >= 0;
    }
    // How far the peak rose above the resident size at Reset.
    qint64 GrowthKb() const { return Field("VmHWM:") - startKb_; }

    static qint64 Field(const char* name) {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly)) return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(name))  // "VmHWM:   1234 kB"
                return line.mid(qsizetype(qstrlen(name))).trimmed().split(' ').value(0).toLongLong();
        return -1;
    }

private:
    qint64 startKb_ = -1;
};

}  // namespace vz::test
