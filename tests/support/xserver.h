#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace quorrin::test {

// A real X server for end-to-end tests, Xvfb on a display nobody uses, driven with xdotool;
// stopped when destroyed.
class XServer {
public:
    // Whether Xvfb and xdotool are installed: a test without them is skipped.
    static bool available();

    // Starts the server on the first free display from `firstDisplay` on, and waits until it
    // answers; display() is empty when it did not.
    explicit XServer(int firstDisplay);
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    const QString &display() const { return m_display; }
    // Runs `program` on this display to its end and returns what it printed.
    QString run(const QString &program, const QStringList &arguments) const;

private:
    QProcess m_server;
    QString m_display;
};

} // namespace quorrin::test
