#include "common/address_map.h"

#include <QRegularExpression>
#include <QStringList>

namespace zuk {

namespace {

std::array<ControllerSlot, kSlotCount> buildMap()
{
    std::array<ControllerSlot, kSlotCount> map{};
    static const char *const universalBoxes[8] = {"adr_00", "adr_01", "adr_02", "adr_03",
                                                  "adr_04", "adr_05", "adr_06", "adr_07"};
    static const char *const clockBoxes[8] = {"adr_80", "adr_81", "adr_82", "adr_83",
                                              "adr_84", "adr_85", "adr_86", "adr_87"};
    for (int n = 0; n < 8; ++n) {
        map[n] = {n, n, ControllerKind::Universal, universalBoxes[n],
                  QStringLiteral("контроллер адрес $0%1").arg(n),
                  QStringLiteral("Адрес  универсального контроллера - "), 60};
        map[8 + n] = {8 + n, 0x80 + n, ControllerKind::ClockIndicator, clockBoxes[n],
                      QStringLiteral("индикатор часовой $8%1").arg(n),
                      QStringLiteral("Адрес  контроллера индикатора - "), 9};
    }
    map[16] = {16, 0x90, ControllerKind::Keyboard, "adr_90", QStringLiteral("клавиатурный $90"),
               QStringLiteral("Адрес  контроллера клавиатурного - "), 60};
    map[17] = {17, 0x98, ControllerKind::System, "adr_98", QStringLiteral("системный $98"),
               QStringLiteral("Адрес  контроллера системного - "), 54};
    map[18] = {18, 0x9C, ControllerKind::Talker, "adr_9c", QStringLiteral("говорилка $9C"),
               QStringLiteral("Адрес  контроллера говорилки - "), 24};
    map[19] = {19, 0x9D, ControllerKind::Sms, "adr_9d", QStringLiteral("контроллер SMS $9D"),
               QStringLiteral("Адрес  контроллера СМС - "), 54};
    return map;
}

}  // namespace

const std::array<ControllerSlot, kSlotCount> &controllerMap()
{
    static const std::array<ControllerSlot, kSlotCount> map = buildMap();
    return map;
}

int slotOfAddress(int address)
{
    for (const ControllerSlot &s : controllerMap())
        if (s.address == address)
            return s.slot;
    return -1;
}

QString tickAddressText(int address)
{
    return QStringLiteral("%1").arg(address & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

QString hexText(int value)
{
    if (value < 0)
        return QStringLiteral("-") + QString::number(-static_cast<qint64>(value), 16).toUpper();
    return QString::number(value, 16).toUpper();
}

QString slotHeaderText(int slot)
{
    const ControllerSlot &s = controllerMap()[slot];
    return s.header + hexText(s.address);
}

QString rowLabelText(int row)
{
    return QStringLiteral("регистр-") + hexText(row);
}

bool parseAddressList(const QString &text, std::array<bool, kSlotCount> *out)
{
    std::array<bool, kSlotCount> ticks{};
    if (text == QLatin1String("all")) {
        ticks.fill(true);
    } else if (text != QLatin1String("none")) {
        static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,2}$"));
        for (const QString &item : text.split(QLatin1Char(','))) {
            if (!hex.match(item).hasMatch())
                return false;
            const int slot = slotOfAddress(item.toInt(nullptr, 16));
            if (slot < 0)
                return false;
            ticks[slot] = true;
        }
    }
    *out = ticks;
    return true;
}

}  // namespace zuk
