#pragma once
// The twenty controller positions of an installation, in their fixed order.
// The slot is the position in the image file and the first index of the
// register image; the address is the one-byte bus address.

#include <QString>
#include <array>

namespace zuk {

enum class ControllerKind { Universal, ClockIndicator, Keyboard, System, Talker, Sms };

struct ControllerSlot {
    int slot;
    int address;
    ControllerKind kind;
    const char *boxName;   // name of the check box in the transfer window
    QString caption;       // caption of that check box
    QString header;        // header text of the slot's section in zuk.txt (address follows)
    int rows;              // register rows of this kind
};

inline constexpr int kSlotCount = 20;
inline constexpr int kMaxRows = 60;
inline constexpr int kRowBytes = 8;

// The whole map, slot 0 to 19.
const std::array<ControllerSlot, kSlotCount> &controllerMap();

// Slot of a bus address, or -1 when no controller has that address.
int slotOfAddress(int address);

// Upper-case hexadecimal without leading zeros: 0, A, 3B, 9D.
QString hexText(int value);

// A bus address as --tick and every machine-readable output write it: two
// upper-case hexadecimal digits, "01", "80", "9C".
QString tickAddressText(int address);

// Header line text of a slot's section: header text followed by the address.
QString slotHeaderText(int slot);

// Row label of register row r: "регистр-" followed by r in hexadecimal.
QString rowLabelText(int row);

// A list of controllers as --tick and zuk_sim --present take it:
// "00,07,80,9C" (hexadecimal bus addresses of one or two digits, as on the
// check boxes, comma-separated), "all" or "none". Anything else fails.
bool parseAddressList(const QString &text, std::array<bool, kSlotCount> *out);

}  // namespace zuk
