#include "widgets/RollBoxList.h"

#include <algorithm>

#include <QCoreApplication>

QString RollBoxItem::Text() const
{
    if (entries.empty())
        return QCoreApplication::translate("RollBoxItem", "New export task");
    QString text;
    for (const RollBoxEntry& entry : entries) {
        if (!text.isEmpty())
            text += ", ";
        text += entry.name;
    }
    return text;
}

void RollBoxItem::AddEntry(const QString& name, const QVariant& value)
{
    if (name.isEmpty())
        return;
    if (std::any_of(entries.begin(), entries.end(), [&](const RollBoxEntry& e) { return e.name == name; }))
        return;
    entries.push_back({name, value});
    std::sort(entries.begin(), entries.end(),
              [](const RollBoxEntry& a, const RollBoxEntry& b) { return a.name < b.name; });
}

void SimpleRollBoxList::EmitChanged()
{
    ItemsChanged();
    ListChanged();
}

void SimpleRollBoxList::AddItem(const QString& text, const QVariant& data)
{
    RollBoxItem item;
    item.AddEntry(text, QVariant());
    item.data = data;
    items.push_back(item);
    SetSorted(sorted);
}

void SimpleRollBoxList::RemoveItem(int index)
{
    if (index >= 0 && index < Count())
        items.erase(items.begin() + index);
    EmitChanged();
}

void SimpleRollBoxList::Clear()
{
    items.clear();
    EmitChanged();
}

void SimpleRollBoxList::SetItem(int index, const RollBoxItem& item)
{
    if (index == -1)
        return;
    RollBoxItem& target = Item(index);
    target.entries = item.entries;
    target.data = item.data;
    target.done = item.done;
    target.progress = item.progress;
    EmitChanged();
}

void SimpleRollBoxList::SetItemData(int index, const QVariant& data)
{
    Item(index).data = data;
}

int SimpleRollBoxList::IndexOf(const QVariant& data) const
{
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].data == data)
            return static_cast<int>(i);
    return -1;
}

void SimpleRollBoxList::SetItemDone(int index, int done)
{
    if (index == -1)
        return;
    Item(index).done = done;
    ItemsChanged();
}

void SimpleRollBoxList::SetItemProgress(int index, int progress)
{
    if (index == -1)
        return;
    Item(index).progress = progress;
    ItemsChanged();
}

void SimpleRollBoxList::SetSorted(bool sort)
{
    sorted = sort;
    if (sorted)
        std::sort(items.begin(), items.end(),
                  [](const RollBoxItem& a, const RollBoxItem& b) { return a.Text() < b.Text(); });
    EmitChanged();
}

void ExtendedRollBoxList::Clear()
{
    items.clear();
    AddItem(QString(), QVariant());
}

void ExtendedRollBoxList::SetItem(int index, const RollBoxItem& item)
{
    if (index == -1)
        return;
    RollBoxItem& target = Item(index);
    for (const RollBoxEntry& entry : item.entries)
        target.AddEntry(entry.name, entry.value);
    target.data = item.data;
    if (items.back().entries.empty())
        EmitChanged();
    else
        AddItem(QString(), QVariant());
}
