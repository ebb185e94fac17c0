#pragma once

#include "model/model.h"
#include "model/tree_grid.h"

#include <QPointer>
#include <QStyledItemDelegate>

#include <functional>

class QAbstractItemView;

// The grid's in-place editing: picks the editor by the item's type, fills it
// from the node's value text, and stores the text back when editing ends.
// No validation here: conversion errors show when a block is encoded.
class TPropertyEditLink : public QStyledItemDelegate {
    Q_OBJECT
public:
    // The grid's nodes, and the model whose enumerations the lists offer.
    TPropertyEditLink(ITreeGrid &tree, std::function<PVirtualNode(const QModelIndex &)> nodeOf,
                      std::function<IConfigModel *()> model, QAbstractItemView *view);

    // The longest text a text editor stores.
    static constexpr int kMaxText = 1023;

    // Ends an open edit, storing its text; false when none was open.
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
    void StoreText(QWidget *editor, PVirtualNode node) const;

    ITreeGrid &FTree;
    std::function<PVirtualNode(const QModelIndex &)> m_nodeOf;
    std::function<IConfigModel *()> m_model;
    QAbstractItemView *m_view;
    mutable QPointer<QWidget> FEdit;
    mutable PVirtualNode FNode = nullptr;
    mutable int FColumn = 1;
};
