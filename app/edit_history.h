#pragma once

#include "model/model.h"

#include <QObject>
#include <QUndoStack>

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

// What the technician changed in the shown configuration since it was last
// read, opened, saved or written: which values differ from that state (the
// grid draws them bold), whether anything does, and the undo stack of the
// changes. Each change is kept as the whole value document before and after
// it, so a value edit, a key read and an added or deleted array element are
// undone alike; the stack's clean state is the saved one.
class TEditHistory : public QObject {
    Q_OBJECT
public:
    explicit TEditHistory(QObject *parent = nullptr);
    // The stack says it is clean as it goes: nobody is told any more by then.
    ~TEditHistory() override;

    QUndoStack *Stack() { return &m_stack; }

    // A configuration newly shown (read, opened, none): the clean state, nothing to undo.
    void Reset(IConfigModel *model);
    // The shown configuration was saved or written: now it is the clean state.
    void MarkClean();
    // After every change of the value document, named for the undo menu.
    void Changed(const QString &what);

    bool Modified() const { return m_current != m_clean; }
    bool IsModified(xml::Node value) const { return value && m_modified.count(value.Raw()) != 0; }
    int ModifiedCount() const { return static_cast<int>(m_modified.size()); }

    // Puts a value document back (its text as Save gives it) and refills the grid.
    std::function<void(const std::string &text)> Restore;
    // The modified state or the set of modified values changed.
    std::function<void()> OnChanged;

private:
    friend class TSnapshotCommand;
    void Apply(const std::string &text);
    void Recount();

    IConfigModel *m_model = nullptr;
    QUndoStack m_stack;
    std::string m_current; // the value document as it is
    std::string m_clean;   // as it was last read, opened, saved or written
    std::optional<xml::Document> m_cleanDocument;
    std::unordered_set<const void *> m_modified;
};
