#pragma once
// The serial ports' names as each system has them: port_names_unix.cpp
// (device paths), port_names_win.cpp (COM1 ... COM256); the build takes one
// of the two.

#include <QString>

namespace zuk::platform {

// The port used when none is named: the first serial port of the system.
QString defaultPortName();
// The name by which a port is chosen and shown, from what Qt lists of it.
QString listedPortName(const QString &portName, const QString &systemLocation);
// A port name as typed, in the form the system's port list uses ("com3",
// "\\.\COM12" on Windows become COM3, COM12: the ports COM1 to COM256);
// anything else unchanged.
QString normalPortName(const QString &typed);

}  // namespace zuk::platform
