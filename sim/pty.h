#pragma once
// The pseudo-terminal the simulator answers on: the tool opens its device
// path as it would open a serial port.

#include <QByteArray>
#include <QString>

namespace zuk::sim {

struct Pty {
    int master = -1;   // the simulator's end, non-blocking
    int slave = -1;    // kept open, so that a program closing the device
                       // does not hang up the line for the next one
    QByteArray path;   // the device the tool opens
};

// Opens a pseudo-terminal, raw, 19200 baud. False with *error on failure.
bool openPty(Pty *pty, QString *error);
// Closes both ends (the line is hung up for whoever has the device open).
void closePty(Pty *pty);
// Makes a symbolic link at link to the device, replacing a link there.
bool linkPty(const Pty &pty, const QString &link, QString *error);
// Removes the link when it still points to the device.
void unlinkPty(const Pty &pty, const QString &link);
// Writes all bytes to a non-blocking descriptor; false when it fails.
bool writeAll(int fd, const QByteArray &bytes);

}  // namespace zuk::sim
