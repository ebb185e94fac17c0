#pragma once

#include "model/tree_grid.h"

#include <QPointer>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>
#include <string>

class QAbstractItemView;

// The grid's in-place editing: picks the editor by the parameter's kind,
// fills it from the node's value text, and stores the text back when editing
// ends. Each entry is checked by the parameter's description first: a refused
// entry keeps the editor open and is reported through OnRefused.
class TPropertyEditLink : public QStyledItemDelegate {
    Q_OBJECT
public:
    TPropertyEditLink(ITreeGrid &tree, std::function<PVirtualNode(const QModelIndex &)> nodeOf,
                      QAbstractItemView *view);

    // The longest text a text editor stores.
    static constexpr int kMaxText = 1023;

    // Ends an open edit, storing its text; false when the text is refused,
    // and the editor then stays open. True when no edit was open.
    bool EndEdit();
    // Ends an open edit without storing anything.
    bool CancelEdit();
    bool Editing() const { return !FEdit.isNull(); }
    // The grid is about to free node and its children (every node when none):
    // an edit on one of them ends without storing anything.
    void NodesAboutToBeFreed(PVirtualNode node);
    QWidget *Editor() const { return FEdit; }
    PVirtualNode EditedNode() const { return FEdit ? FNode : nullptr; }

    // A value text was changed by an edit.
    std::function<void(PVirtualNode node)> OnStored;
    // Reports an editor that cannot start (a value that is not an integer).
    std::function<void(const QString &message)> OnError;
    // Reports a refused entry (the message names the parameter by its caption),
    // or an empty text once the entry is taken or abandoned.
    std::function<void(const QString &message)> OnRefused;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void destroyEditor(QWidget *editor, const QModelIndex &index) const override;

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QWidget *PrepareEdit(QWidget *parent, PVirtualNode node, int column) const;
    // The text an editor holds, as it would be stored; none when nothing is chosen.
    std::optional<std::string> EnteredText(QWidget *editor, const TTreeData &data) const;
    // Checks the open editor's text; reports and returns false when it is refused.
    bool Acceptable() const;
    void StoreText(const std::string &text, PVirtualNode node) const;
    void Report(const QString &message) const;

    ITreeGrid &FTree;
    std::function<PVirtualNode(const QModelIndex &)> m_nodeOf;
    QAbstractItemView *m_view;
    mutable QPointer<QWidget> FEdit;
    mutable PVirtualNode FNode = nullptr;
    mutable int FColumn = 1;
};
