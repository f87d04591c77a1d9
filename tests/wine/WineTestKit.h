#pragma once
// Wine for the tests: a prefix made with `wineboot -i` in a folder of the
// test's own (one that already holds dosdevices/ links keeps them), Windows
// programs started in it, and every Wine process of the prefix ended
// (wineserver -k) before the folder goes. The Windows programs are the
// program's helper and the stand-ins built beside these tests.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

namespace vz::test {

inline const QString SiblingHelperExe = QStringLiteral(VZ_SIBLING_HELPER);
inline const QString VireoCastStandinExe = QStringLiteral(VZ_VIREO_CAST_STANDIN);
inline const QString ServidorStandinExe = QStringLiteral(VZ_SERVIDOR_STANDIN);

class WinePrefixSession {
public:
    explicit WinePrefixSession(QString prefixHostPath);
    ~WinePrefixSession();
    WinePrefixSession(const WinePrefixSession&) = delete;
    WinePrefixSession& operator=(const WinePrefixSession&) = delete;

    // Sets the prefix up; false, with the reason in error(), when Wine cannot
    // start here (no wine on the PATH, wineboot failing).
    bool start();
    // Ends every process of the prefix and waits for its wineserver to go;
    // tmpDir: the TMPDIR the server runs with, when not this process's.
    void endPrograms(const QString& tmpDir = {}) const;
    // endPrograms(), and the server's folder below TMPDIR goes too.
    void stop();

    bool ready() const { return ready_; }
    const QString& error() const { return error_; }
    const QString& prefix() const { return prefix_; }
    const QString& wine() const { return wine_; }
    // The environment a program of the prefix runs in (WINEPREFIX, WINEDEBUG).
    QProcessEnvironment environment() const;

private:
    // Runs wineserver with the option (-k, -w) for the prefix and waits for it.
    void waitForWineserver(const QString& option, const QString& tmpDir = {}) const;

    QString prefix_;
    QString wine_;
    QString error_;
    bool ready_ = false;
};

// A Windows program run with wine in a prefix, killed at the end when still running.
class WineProgram {
public:
    // tmpDir: a TMPDIR of its own instead of this process's.
    WineProgram(const WinePrefixSession& session, const QString& exeHostPath, const QStringList& arguments,
                const QString& tmpDir = {});
    ~WineProgram();
    WineProgram(const WineProgram&) = delete;
    WineProgram& operator=(const WineProgram&) = delete;

    bool started() const { return started_; }
    bool running();
    // Waits for the program to end; its exit status, or -1 when it did not
    // end in time or ended by a signal.
    int exitStatus(int timeoutMs);

private:
    QProcess process_;
    bool started_ = false;
};

// Polls until the condition holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 20000);

}  // namespace vz::test

// Where Wine cannot start the test is skipped with the reason; in CI (CI set
// in the environment) that is a failure instead.
#define VZ_REQUIRE_WINE(session)                                                                  \
    do {                                                                                          \
        if (!(session).ready()) {                                                                 \
            if (qEnvironmentVariableIsSet("CI"))                                                  \
                FAIL() << "Wine cannot start: " << (session).error().toStdString();              \
            GTEST_SKIP() << "Wine cannot start here: " << (session).error().toStdString();       \
        }                                                                                         \
    } while (false)
