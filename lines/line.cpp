#include "lines/line.h"

#include "lines/net_line.h"
#include "lines/rfc2217_line.h"
#include "lines/serial_port.h"

namespace zuk {

std::unique_ptr<BusLine> makeLine(const QString &name)
{
    switch (lineKindOf(name)) {
    case LineKind::Tcp:
        return std::make_unique<TcpLine>();
    case LineKind::Rfc2217:
        return std::make_unique<Rfc2217Line>();
    case LineKind::Serial:
        break;
    }
    return std::make_unique<MSComm>();
}

Line::Line(QObject *parent) : BusLine(parent) {}

Line::~Line()
{
    close();
}

bool Line::open(const QString &name, QString *reason, const OpenOptions &options)
{
    close();
    name_ = name;
    line_ = makeLine(name);
    line_->setReceiveHandler([this](const QByteArray &bytes) { deliver(bytes); });
    line_->setLostHandler([this](const QString &why) { reportLost(why); });
    line_->setWrittenHandler([this] { reportWritten(); });
    return line_->open(name, reason, options);
}

void Line::close()
{
    if (line_)
        line_->close();
}

void Line::output(const QByteArray &bytes)
{
    if (line_)
        line_->output(bytes);
}

void Line::endRequest()
{
    if (line_)
        line_->endRequest();
}

void Line::drainInput()
{
    if (line_)
        line_->drainInput();
}

}  // namespace zuk
