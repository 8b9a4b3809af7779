#include "transfer/serial_port.h"

#include <QFileInfo>

namespace zuk {

MSComm::MSComm(QObject *parent) : QObject(parent)
{
    connect(&port_, &QSerialPort::readyRead, this, &MSComm::onReadyRead);
}

MSComm::~MSComm()
{
    close();
}

bool MSComm::open(const QString &name, QString *reason)
{
    close();
    name_ = name;
    // QSerialPort takes a bare name as a device under /dev; a path (a pseudo-
    // terminal or a link to one) is used as it is.
    const QFileInfo info(name);
    port_.setPortName(info.isAbsolute() ? info.absoluteFilePath() : name);
    if (!port_.open(QIODevice::ReadWrite)) {
        if (reason)
            *reason = port_.errorString();
        return false;
    }
    const bool set = port_.setBaudRate(QSerialPort::Baud19200) && port_.setDataBits(QSerialPort::Data8)
                     && port_.setParity(QSerialPort::NoParity) && port_.setStopBits(QSerialPort::OneStop)
                     && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!set) {
        if (reason)
            *reason = port_.errorString();
        port_.close();
        return false;
    }
    port_.clear();
    return true;
}

void MSComm::close()
{
    if (port_.isOpen())
        port_.close();
}

void MSComm::output(const QByteArray &bytes)
{
    if (port_.isOpen())
        port_.write(bytes);
}

void MSComm::onReadyRead()
{
    deliver(port_.readAll());
}

}  // namespace zuk
