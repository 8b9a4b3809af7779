#include "editor/core/controls.h"

namespace kalvet {

void ComboBox::clear()
{
    items_ = QStringList();   // a list shared with a caller is let go, not copied
    index_ = -1;
    text_.clear();
    ++listRevision_;
    touch();
}

void ComboBox::addItem(const QString &text)
{
    items_.append(text);
    ++listRevision_;
    touch();
}

void ComboBox::setItems(const QStringList &items)
{
    items_ = items;
    index_ = -1;
    text_.clear();
    ++listRevision_;
    touch();
}

bool ComboBox::setListIndex(int index)
{
    if (index < -1 || index >= listCount())
        return false;
    const bool changed = index != index_;
    index_ = index;
    text_ = index >= 0 ? items_.at(index) : QString();
    touch();
    if (changed && onClick)
        onClick();
    return true;
}

void ComboBox::choose(int index)
{
    if (index < 0 || index >= listCount())
        return;
    index_ = index;
    text_ = items_.at(index);
    touch();
    const auto click = [this] {
        if (onClick)
            onClick();
    };
    if (onChoose)
        onChoose(click);
    else
        click();
}

void ComboBox::typeText(const QString &text)
{
    index_ = -1;
    text_ = text;
    touch();
}

void ComboBox::setText(const QString &text)
{
    text_ = text;
    touch();
}

void ComboBox::showUnlisted(const QString &text)
{
    index_ = -1;
    text_ = text;
    touch();
}

void ComboBox::setEnabled(bool on)
{
    enabled_ = on;
    touch();
}

void Label::setCaption(const QString &caption)
{
    caption_ = caption;
    touch();
}

void TextBox::setText(const QString &text)
{
    text_ = text;
    touch();
}

}  // namespace kalvet
