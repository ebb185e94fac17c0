#include "app/vst.h"

#include "model/tools.h"

#include "editors/vteditor.h"

#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>

#include <algorithm>
#include <vector>

const QColor TVstModel::kSilver(0xC0, 0xC0, 0xC0);

namespace {

constexpr int kColumnCount = 2;
constexpr int kValueColumn = 1;
constexpr int kCaptionWidth = 250;
constexpr int kValueWidth = 254;
constexpr int kHeaderHeight = 18;
constexpr int kIndent = 19;

} // namespace

TVstModel::TVstModel(QObject *parent) : QAbstractItemModel(parent) {}

PVirtualNode TVstModel::NodeOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<PVirtualNode>(index.internalPointer()) : nullptr;
}

QModelIndex TVstModel::IndexOf(PVirtualNode node, int column) const
{
    return node ? createIndex(node->Row, column, node) : QModelIndex();
}

QModelIndex TVstModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column < 0 || column >= kColumnCount || (parent.isValid() && parent.column() != 0))
        return QModelIndex();
    PVirtualNode node = Child(NodeOf(parent), row);
    return node ? createIndex(row, column, node) : QModelIndex();
}

QModelIndex TVstModel::parent(const QModelIndex &child) const
{
    PVirtualNode node = NodeOf(child);
    return node && node->Parent ? createIndex(node->Parent->Row, 0, node->Parent) : QModelIndex();
}

int TVstModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return ChildCount(NodeOf(parent));
}

int TVstModel::columnCount(const QModelIndex &) const
{
    return kColumnCount;
}

QVariant TVstModel::data(const QModelIndex &index, int role) const
{
    PVirtualNode node = NodeOf(index);
    if (!node)
        return QVariant();
    const TTreeData &row = node->Data;
    if (role == Qt::DisplayRole)
        return QString::fromStdString(index.column() == 0 ? row.Caption : ValueCellText(row));
    if (role == Qt::ToolTipRole && row.Info)
        return QString::fromStdString(row.Info->Tooltip());
    if (role == Qt::ForegroundRole && index.column() == 0 && node->Data.Gray)
        return kSilver;
    if (role == Qt::FontRole && index.column() == kValueColumn && OnModified && OnModified(node)) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    return QVariant();
}

QVariant TVstModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return section == 0 ? QStringLiteral("Параметр") : QStringLiteral("Значение");
}

Qt::ItemFlags TVstModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == kValueColumn && HoldsValue(NodeOf(index)->Data))
        flags |= Qt::ItemIsEditable;
    return flags;
}

PVirtualNode TVstModel::AddChild(PVirtualNode parent, TTreeData data)
{
    if (Updating())
        return TTreeGrid::AddChild(parent, std::move(data));
    const int row = ChildCount(parent);
    beginInsertRows(IndexOf(parent), row, row);
    PVirtualNode node = TTreeGrid::AddChild(parent, std::move(data));
    endInsertRows();
    return node;
}

void TVstModel::Clear()
{
    emit NodesAboutToBeFreed(nullptr);
    if (Updating()) {
        TTreeGrid::Clear();
        return;
    }
    beginResetModel();
    TTreeGrid::Clear();
    endResetModel();
}

void TVstModel::BeginUpdate()
{
    if (!Updating())
        beginResetModel();
    TTreeGrid::BeginUpdate();
}

void TVstModel::EndUpdate()
{
    TTreeGrid::EndUpdate();
    if (!Updating())
        endResetModel();
}

void TVstModel::DeleteNode(PVirtualNode node)
{
    if (!node)
        return;
    emit NodesAboutToBeFreed(node);
    if (Updating()) {
        TTreeGrid::DeleteNode(node);
        return;
    }
    beginRemoveRows(IndexOf(node->Parent), node->Row, node->Row);
    TTreeGrid::DeleteNode(node);
    endRemoveRows();
}

void TVstModel::InvalidateNode(PVirtualNode node)
{
    if (node && !Updating())
        emit dataChanged(IndexOf(node, 0), IndexOf(node, kColumnCount - 1));
}

TVirtualStringTree::TVirtualStringTree(QWidget *parent) : QTreeView(parent)
{
    setObjectName("VST1");
    setModel(&m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Selecting a row opens its editor; clicking the selected row or F2 opens it again.
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setIndentation(kIndent);
    setAnimated(true);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(false);
    header()->setMinimumHeight(kHeaderHeight);
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
    header()->resizeSection(0, kCaptionWidth);
    header()->resizeSection(1, kValueWidth);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void TVirtualStringTree::SetEditLink(TPropertyEditLink *link)
{
    m_link = link;
    setItemDelegate(link);
    connect(&m_model, &TVstModel::NodesAboutToBeFreed, link, &TPropertyEditLink::NodesAboutToBeFreed);
}

bool TVirtualStringTree::EndEditNode()
{
    return !m_link || m_link->EndEdit();
}

bool TVirtualStringTree::EditNode(PVirtualNode node)
{
    const QModelIndex index = m_model.IndexOf(node, kValueColumn);
    if (!index.isValid() || !(m_model.flags(index) & Qt::ItemIsEditable))
        return false;
    if (m_link && m_link->EditedNode() == node)
        return true;
    if (!EndEditNode())
        return false;
    edit(index);
    return m_link && m_link->EditedNode() == node;
}

PVirtualNode TVirtualStringTree::FocusedNode() const
{
    return m_model.NodeOf(currentIndex());
}

void TVirtualStringTree::keyboardSearch(const QString &search)
{
    if (search.isEmpty())
        return;
    // Keystrokes further apart than the interval start a new search.
    const bool continues =
        m_searchTimer.isValid() && m_searchTimer.elapsed() <= QApplication::keyboardInputInterval();
    m_searchTimer.start();
    m_searchText = continues ? m_searchText + search : search;

    // Every node in display order, collapsed ones included.
    std::vector<PVirtualNode> order;
    std::vector<PVirtualNode> pending;
    for (int row = m_model.rowCount() - 1; row >= 0; --row)
        pending.push_back(m_model.NodeOf(m_model.index(row, 0)));
    while (!pending.empty()) {
        PVirtualNode node = pending.back();
        pending.pop_back();
        order.push_back(node);
        const QModelIndex index = m_model.IndexOf(node);
        for (int row = m_model.rowCount(index) - 1; row >= 0; --row)
            pending.push_back(m_model.NodeOf(m_model.index(row, 0, index)));
    }
    if (order.empty())
        return;
    const auto current = std::find(order.begin(), order.end(), FocusedNode());
    // A search that goes on may match the current row again; a new one starts after it.
    std::size_t start = current == order.end() ? 0 : static_cast<std::size_t>(current - order.begin());
    if (!continues || m_searchText.size() == 1)
        start = (start + 1) % order.size();
    for (std::size_t i = 0; i < order.size(); ++i) {
        PVirtualNode node = order[(start + i) % order.size()];
        const QModelIndex index = m_model.IndexOf(node);
        if (!m_model.data(index).toString().startsWith(m_searchText, Qt::CaseInsensitive))
            continue;
        for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
            expand(parent);
        m_searching = true;
        setCurrentIndex(index);
        scrollTo(index);
        m_searching = false;
        return;
    }
}

void TVirtualStringTree::keyPressEvent(QKeyEvent *event)
{
    // The context-menu key and Shift+F10 offer the current row's menu, as a right click on its caption does.
    if (event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        const QModelIndex index = currentIndex().siblingAtColumn(0);
        if (index.isValid()) {
            emit customContextMenuRequested(visualRect(index).center());
            return;
        }
    }
    // F2 and Enter open the editor of the current row, in the value column, whichever cell has the focus.
    const bool editKey = event->key() == Qt::Key_F2 || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (editKey && event->modifiers() == Qt::NoModifier && state() != EditingState && EditNode(FocusedNode()))
        return;
    QTreeView::keyPressEvent(event);
}

namespace {

QStringList captionPath(const QModelIndex &index)
{
    QStringList path;
    for (QModelIndex at = index.siblingAtColumn(0); at.isValid(); at = at.parent())
        path.prepend(at.data().toString());
    return path;
}

} // namespace

TVirtualStringTree::TViewState TVirtualStringTree::SaveViewState() const
{
    TViewState state;
    std::vector<QModelIndex> pending{QModelIndex()};
    while (!pending.empty()) {
        const QModelIndex parent = pending.back();
        pending.pop_back();
        for (int row = 0; row < m_model.rowCount(parent); ++row) {
            const QModelIndex index = m_model.index(row, 0, parent);
            if (isExpanded(index)) {
                state.expanded.push_back(captionPath(index));
                pending.push_back(index);
            }
        }
    }
    state.current = captionPath(currentIndex());
    state.currentColumn = currentIndex().column();
    return state;
}

void TVirtualStringTree::RestoreViewState(const TViewState &state)
{
    const auto find = [this](const QStringList &path) {
        QModelIndex at;
        for (const QString &caption : path) {
            QModelIndex next;
            for (int row = 0; row < m_model.rowCount(at) && !next.isValid(); ++row)
                if (m_model.index(row, 0, at).data().toString() == caption)
                    next = m_model.index(row, 0, at);
            if (!next.isValid())
                return QModelIndex();
            at = next;
        }
        return at;
    };
    for (const QStringList &path : state.expanded)
        if (const QModelIndex index = find(path); index.isValid())
            expand(index);
    if (const QModelIndex current = find(state.current); current.isValid()) {
        // Put back without opening an editor, as a search does.
        m_searching = true;
        setCurrentIndex(current.siblingAtColumn(state.currentColumn));
        m_searching = false;
    }
}
