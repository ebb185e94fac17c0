#pragma once

#include "model/tree_grid.h"

#include <QAbstractItemModel>
#include <QColor>
#include <QElapsedTimer>
#include <QTreeView>

#include <QStringList>

#include <functional>
#include <vector>

class TPropertyEditLink;

// The parameter grid's tree as a Qt item model: the models fill it through
// ITreeGrid, the view shows it. Column 0 "Параметр", column 1 "Значение".
// Each row answers from its own data: the caption, the value shown by the
// parameter's description, whether it is edited, its grey state and tooltip.
class TVstModel : public QAbstractItemModel, public TTreeGrid {
    Q_OBJECT
public:
    explicit TVstModel(QObject *parent = nullptr);

    // Whether a node's value differs from the saved state (drawn bold).
    std::function<bool(PVirtualNode node)> OnModified;

    PVirtualNode NodeOf(const QModelIndex &index) const;
    QModelIndex IndexOf(PVirtualNode node, int column = 0) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    PVirtualNode AddChild(PVirtualNode parent, TTreeData data) override;
    void Clear() override;
    void BeginUpdate() override;
    void EndUpdate() override;
    void DeleteNode(PVirtualNode node) override;
    void InvalidateNode(PVirtualNode node) override;

    static const QColor kSilver;

signals:
    // Nodes are about to be freed: node and its children, or every node when none.
    void NodesAboutToBeFreed(PVirtualNode node);
};

// VST1: the two-column tree grid of the main window.
class TVirtualStringTree : public QTreeView {
    Q_OBJECT
public:
    explicit TVirtualStringTree(QWidget *parent = nullptr);

    TVstModel &Tree() { return m_model; }
    TPropertyEditLink *EditLink() const { return m_link; }
    void SetEditLink(TPropertyEditLink *link);

    // Ends an open edit, storing its text; false when the text is refused and the edit stays open.
    bool EndEditNode();
    // Starts editing node in the value column.
    bool EditNode(PVirtualNode node);
    PVirtualNode FocusedNode() const;
    // Which rows are expanded and which is current, by their captions, so that
    // a refilled tree can be shown as it was.
    struct TViewState {
        std::vector<QStringList> expanded;
        QStringList current;
        int currentColumn = 0;
    };
    TViewState SaveViewState() const;
    void RestoreViewState(const TViewState &state);

    // True while the incremental search moves the selection: a row reached by
    // typing is only selected, its editor opens on the next click, Enter or F2.
    bool Searching() const { return m_searching; }

    // Incremental search over every node, those inside collapsed groups too:
    // the first caption after the current row that starts with the typed text
    // (keystrokes up to the keyboard input interval apart) is selected and its
    // parents are expanded.
    void keyboardSearch(const QString &search) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    TVstModel m_model;
    TPropertyEditLink *m_link = nullptr;
    bool m_searching = false;
    QString m_searchText;
    QElapsedTimer m_searchTimer;
};
