#pragma once
// The item lists a roll box shows: plain captions with a value each, or
// tasks (an item per task, its entries the task's parts) that always end
// with one empty task. The lists tell their roll box of changes through two
// signals; they have no lock and belong to the GUI thread.

#include <vector>

#include <QString>
#include <QVariant>
#include <boost/signals2/signal.hpp>

struct RollBoxEntry {
    QString name;
    QVariant value;
};

struct RollBoxItem {
    // Sorted by name; names are unique and never empty.
    std::vector<RollBoxEntry> entries;
    QVariant data;
    int done = 0;
    int progress = 0;  // percent

    // "New export task" (translated) without entries, else the entry names
    // joined by ", ".
    QString Text() const;
    // Nothing for an empty name or a name already there; otherwise added in
    // name order.
    void AddEntry(const QString& name, const QVariant& value);
};

class IRollBoxList {
public:
    virtual ~IRollBoxList() = default;

    // Something shown changed (a repaint is enough).
    boost::signals2::signal<void()> ItemsChanged;
    // Items were added, removed, replaced or reordered. Where both are
    // emitted, ItemsChanged comes first.
    boost::signals2::signal<void()> ListChanged;

    virtual bool IsExtended() const = 0;
    // An item captioned `text` (no entry for an empty text).
    virtual void AddItem(const QString& text, const QVariant& data) = 0;
    // An invalid index removes nothing; both signals are emitted anyway.
    virtual void RemoveItem(int index) = 0;
    virtual int Count() const = 0;
    virtual void Clear() = 0;
    // `index` must be valid.
    virtual RollBoxItem& Item(int index) = 0;
    // Index -1 is ignored.
    virtual void SetItem(int index, const RollBoxItem& item) = 0;
    // `index` must be valid; no signal.
    virtual void SetItemData(int index, const QVariant& data) = 0;
    // -1 when no item holds the value.
    virtual int IndexOf(const QVariant& data) const = 0;
    // Index -1 is ignored; ItemsChanged only.
    virtual void SetItemDone(int index, int done) = 0;
    virtual void SetItemProgress(int index, int progress) = 0;
    // When set, items are kept in caption order.
    virtual void SetSorted(bool sorted) = 0;
};

class SimpleRollBoxList : public IRollBoxList {
public:
    bool IsExtended() const override { return false; }
    void AddItem(const QString& text, const QVariant& data) override;
    void RemoveItem(int index) override;
    int Count() const override { return static_cast<int>(items.size()); }
    void Clear() override;
    RollBoxItem& Item(int index) override { return items.at(static_cast<size_t>(index)); }
    void SetItem(int index, const RollBoxItem& item) override;
    void SetItemData(int index, const QVariant& data) override;
    int IndexOf(const QVariant& data) const override;
    void SetItemDone(int index, int done) override;
    void SetItemProgress(int index, int progress) override;
    void SetSorted(bool sorted) override;

protected:
    void EmitChanged();

    bool sorted = false;
    std::vector<RollBoxItem> items;
};

// Tasks: SetItem merges entries into the item instead of replacing them,
// and the list always ends with exactly one item without entries.
class ExtendedRollBoxList : public SimpleRollBoxList {
public:
    bool IsExtended() const override { return true; }
    void Clear() override;
    void SetItem(int index, const RollBoxItem& item) override;
};
