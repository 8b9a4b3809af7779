#pragma once
// What the serial and network lines ask of the system beyond Qt:
// line_system_unix.cpp for Linux (the serial driver's ioctls, poll),
// line_system_win.cpp for Windows, where Qt does all of it; the build takes
// one of the two.

#include <QSerialPort>
#include <QString>

#include <utility>

namespace zuk::line_system {

// The system's handle of an open serial port (a descriptor, a HANDLE).
using SerialHandle = decltype(std::declval<QSerialPort &>().handle());

// Takes the serial device for this program alone beyond what the port's
// open did (the lock file): an advisory lock on the device itself on Linux,
// so that no two runs (and no program that locks the same way) share one
// bus; Windows opens a COM port for one program only. *detail gets the
// system's words when another one holds it.
bool lockExclusively(SerialHandle handle, QString *detail);
// Switches the driver into its RS-485 mode (RTS on while sending); *reason
// in Russian when it will not, or when the system has no such mode.
bool enableRs485(SerialHandle handle, QString *reason);
// Asks the driver not to hold received bytes back (a USB adapter's may, to
// fill a packet); a driver without the setting works as it is.
void askLowLatency(SerialHandle handle);

// Whether the system holds bytes of the serial device, or of the socket,
// that no receive event has brought yet (for the socket also a hang-up).
// False where Qt's own notifiers bring them (Windows).
bool serialInputWaiting(SerialHandle handle);
bool socketInputWaiting(qintptr descriptor);

}  // namespace zuk::line_system
