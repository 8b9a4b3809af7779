#pragma once
// The name fields of a controller: which text boxes of the form show which
// lines of the name tables, and how messages name a line. One list serves
// filling the boxes, taking them over, the unsaved-changes check, the undo
// steps of typed names and the check of texts a file cannot carry.
#include "common/address_map.h"
#include "editor/core/form.h"

#include <algorithm>
#include <span>
#include <type_traits>

namespace kalvet::name_fields {

inline QString locationField(int) { return QStringLiteral("местоположение"); }
inline QString inputField(int l) { return QStringLiteral("Входы %1").arg(zuk::hexText(l)); }
inline QString outputField(int l) { return QStringLiteral("Выходы %1").arg(zuk::hexText(l)); }
inline QString irField(int l) { return QStringLiteral("ИК посылка %1").arg(zuk::hexText(l)); }

inline QString scenarioField(int s)
{
    if (s < 16)
        return QStringLiteral("Названия сценариев, условные %1").arg(zuk::hexText(s));
    if (s < 32)
        return QStringLiteral("Названия сценариев, короткие %1").arg(zuk::hexText(s - 16));
    return QStringLiteral("Названия сценариев, длинные %1").arg(s - 32);
}

// The lines of one name field of a controller: the text boxes that show the
// first of them and the lines in the table.
template <typename Box, typename Text>
struct NameField {
    std::span<Box> boxes;
    std::span<Text> lines;
    QString (*caption)(int line);   // how messages name a line
};

template <typename T>
inline std::span<T> linesOf(T &one)
{
    return {&one, 1};
}
template <typename T, std::size_t N>
std::span<T> linesOf(std::array<T, N> &all)
{
    return all;
}
template <typename T, std::size_t N>
std::span<const T> linesOf(const std::array<T, N> &all)
{
    return all;
}

// The name fields of controller c: which boxes show which table. In the order
// of the window's rows: inputs, outputs and IR packets side by side.
template <typename Form, typename Tables>
auto nameFields(Form &form, Tables &tables, int c)
{
    using Box = std::conditional_t<std::is_const_v<Form>, const TextBox, TextBox>;
    using Text = std::conditional_t<std::is_const_v<Tables>, const QString, QString>;
    return std::array<NameField<Box, Text>, 5>{{
        {linesOf(form.Text3), linesOf(tables.ctrl_location[c]), locationField},
        {linesOf(form.Text2), linesOf(tables.in_name[c]), inputField},
        {linesOf(form.Text1), linesOf(tables.out_name[c]), outputField},
        {linesOf(form.Text4), linesOf(tables.ir_name[c]), irField},
        {linesOf(form.Text5), linesOf(tables.scen_name[c]), scenarioField},
    }};
}

inline constexpr auto boxCount = [](const auto &field) { return field.boxes.size(); };
inline constexpr auto lineCount = [](const auto &field) { return field.lines.size(); };

// Calls visit(field, line) for lines 0..count(field)-1 of each field until a
// visit gives true, and gives back whether one did. Neighbouring fields of
// the same count are gone through side by side, line by line.
template <typename Fields, typename Count, typename Visit>
bool anyNameLine(const Fields &fields, Count count, Visit visit)
{
    for (auto group = fields.begin(); group != fields.end();) {
        const std::size_t lines = count(*group);
        const auto end = std::find_if(group, fields.end(), [&](const auto &f) { return count(f) != lines; });
        for (std::size_t l = 0; l < lines; ++l)
            for (auto f = group; f != end; ++f)
                if (visit(*f, int(l)))
                    return true;
        group = end;
    }
    return false;
}

}  // namespace kalvet::name_fields
