#include "editors/vteditor.h"

#include "editors/int_spin.h"
#include "model/errors.h"
#include "model/param_info.h"
#include "model/tools.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QToolTip>

namespace {

constexpr int kRowHeight = 20;

QString qtext(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

TPropertyEditLink::TPropertyEditLink(ITreeGrid &tree, std::function<PVirtualNode(const QModelIndex &)> nodeOf,
                                     QAbstractItemView *view)
    : QStyledItemDelegate(view), FTree(tree), m_nodeOf(std::move(nodeOf)), m_view(view)
{
}

QWidget *TPropertyEditLink::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    PVirtualNode node = m_nodeOf(index);
    if (!node)
        return nullptr;
    try {
        return PrepareEdit(parent, node, index.column());
    } catch (const std::exception &e) {
        // Shown once the view has finished refusing the edit.
        const QString message = QString::fromUtf8(e.what());
        QTimer::singleShot(0, this, [this, message] {
            if (OnError)
                OnError(message);
        });
        return nullptr;
    }
}

QWidget *TPropertyEditLink::PrepareEdit(QWidget *parent, PVirtualNode node, int column) const
{
    const TTreeData &data = FTree.Data(node);
    if (!HoldsValue(data))
        return nullptr;
    const TParamInfo &info = *data.Info;
    const std::string text = data.Value.Text();
    QWidget *editor = nullptr;
    switch (info.Kind()) {
    case TValueKind::Integer: {
        auto *spin = new TIntSpinEdit(parent);
        // The value goes in before the limits, so a stored value outside them shows unchanged.
        spin->SetValue(StrToIntWide(text));
        spin->SetLimits(info.Lowest(), info.Highest());
        editor = spin;
        break;
    }
    case TValueKind::Bool: {
        auto *list = new QComboBox(parent);
        list->addItems({"Нет", "Да"});
        list->setCurrentIndex(text == "0" ? 0 : 1);
        editor = list;
        break;
    }
    case TValueKind::Choice: {
        auto *list = new QComboBox(parent);
        for (const TChoice &choice : info.Choices())
            list->addItem(qtext(choice.caption));
        list->setCurrentIndex(info.ChoiceIndex(text));
        editor = list;
        break;
    }
    default: {
        auto *edit = new QLineEdit(parent);
        edit->setText(qtext(text));
        editor = edit;
        break;
    }
    }
    editor->setToolTip(qtext(info.Tooltip()));
    editor->installEventFilter(const_cast<TPropertyEditLink *>(this));
    FEdit = editor;
    FNode = node;
    FColumn = column;
    return editor;
}

void TPropertyEditLink::setEditorData(QWidget *editor, const QModelIndex &) const
{
    // Filled once by PrepareEdit; the view must not refill it while the user types.
    editor->setFocus();
}

void TPropertyEditLink::setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const
{
    PVirtualNode node = m_nodeOf(index);
    if (!node || editor != FEdit || !HoldsValue(FTree.Data(node)))
        return;
    const std::optional<std::string> text = EnteredText(editor, FTree.Data(node));
    if (!text)
        return;
    // The view ends edits of its own accord (another row is chosen): a refused text is not stored.
    if (const auto refusal = FTree.Data(node).Info->Validate(*text)) {
        Report(qtext(*refusal + " Значение не изменено."));
        return;
    }
    Report(QString());
    StoreText(*text, node);
}

std::optional<std::string> TPropertyEditLink::EnteredText(QWidget *editor, const TTreeData &data) const
{
    if (auto *edit = qobject_cast<QLineEdit *>(editor))
        return edit->text().left(kMaxText).toStdString();
    if (auto *spin = qobject_cast<TIntSpinEdit *>(editor)) {
        const std::string text = spin->Text().toStdString();
        return text.empty() ? std::to_string(spin->MinValue()) : text;
    }
    if (auto *list = qobject_cast<QComboBox *>(editor)) {
        const int selected = list->currentIndex();
        if (selected < 0)
            return std::nullopt; // nothing chosen: the value stays
        if (data.Info->Kind() == TValueKind::Bool)
            return std::to_string(selected);
        const auto &choices = data.Info->Choices();
        if (selected >= int(choices.size()))
            return std::nullopt;
        return choices[std::size_t(selected)].value;
    }
    return std::nullopt;
}

bool TPropertyEditLink::Acceptable() const
{
    if (!FEdit || !FNode || !HoldsValue(FTree.Data(FNode)))
        return true;
    const TTreeData &data = FTree.Data(FNode);
    const std::optional<std::string> text = EnteredText(FEdit, data);
    const auto refusal = text ? data.Info->Validate(*text) : std::nullopt;
    if (!refusal)
        return true;
    Report(qtext(*refusal));
    return false;
}

void TPropertyEditLink::Report(const QString &message) const
{
    if (FEdit) {
        FEdit->setToolTip(message.isEmpty() && HoldsValue(FTree.Data(FNode)) ? qtext(FTree.Data(FNode).Info->Tooltip())
                                                                            : message);
        // Shown at the editor too: the status bar of a narrow window cuts long messages.
        if (message.isEmpty())
            QToolTip::hideText();
        else if (FEdit->isVisible())
            QToolTip::showText(FEdit->mapToGlobal(QPoint(0, FEdit->height())), message, FEdit);
    }
    if (OnRefused)
        OnRefused(message);
}

void TPropertyEditLink::StoreText(const std::string &text, PVirtualNode node) const
{
    TTreeData &data = FTree.Data(node);
    const bool changed = data.Value.Text() != text;
    data.Value.SetText(text);
    FTree.InvalidateNode(node);
    // An edited on/off switch may switch its array element on or off.
    UpdateSwitchedElement(FTree, node);
    if (changed && OnStored)
        OnStored(node);
}

void TPropertyEditLink::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}

QSize TPropertyEditLink::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), kRowHeight));
    return size;
}

void TPropertyEditLink::destroyEditor(QWidget *editor, const QModelIndex &index) const
{
    if (editor == FEdit)
        FEdit = nullptr;
    QStyledItemDelegate::destroyEditor(editor, index);
}

bool TPropertyEditLink::EndEdit()
{
    if (!FEdit)
        return true;
    if (!Acceptable())
        return false;
    QWidget *editor = FEdit;
    emit commitData(editor);
    emit closeEditor(editor, QAbstractItemDelegate::NoHint);
    return true;
}

bool TPropertyEditLink::CancelEdit()
{
    if (!FEdit)
        return false;
    Report(QString());
    QWidget *editor = FEdit;
    emit closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    return true;
}

void TPropertyEditLink::NodesAboutToBeFreed(PVirtualNode node)
{
    if (!FEdit)
        return;
    PVirtualNode edited = FNode;
    while (node && edited && edited != node)
        edited = FTree.Parent(edited);
    if (!edited)
        return;
    QWidget *editor = FEdit;
    FEdit = nullptr;
    FNode = nullptr;
    emit closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}

bool TPropertyEditLink::eventFilter(QObject *object, QEvent *event)
{
    auto *editor = qobject_cast<QWidget *>(object);
    if (event->type() == QEvent::KeyPress && editor && m_view) {
        // The context-menu key and Shift+F10 offer the row's menu ("Считать", "Добавить"...), not the editor's.
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Menu || (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
            const QModelIndex row = m_view->currentIndex().siblingAtColumn(0);
            if (row.isValid()) {
                emit m_view->customContextMenuRequested(m_view->visualRect(row).center());
                return true;
            }
        }
    }
    if (event->type() == QEvent::KeyPress && editor == FEdit) {
        // Enter and Tab take the entry only when the parameter can hold it; Escape restores the old value.
        auto *key = static_cast<QKeyEvent *>(event);
        const bool takes = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Tab ||
                           key->key() == Qt::Key_Backtab;
        if (takes && !Acceptable())
            return true;
        if (key->key() == Qt::Key_Escape)
            Report(QString());
    }
    if (event->type() == QEvent::FocusOut && editor == FEdit && !Acceptable()) {
        // A refused entry stays open for correcting; the view would otherwise take it as it stands.
        return true;
    }
    if (event->type() == QEvent::KeyPress && editor && !qobject_cast<TIntSpinEdit *>(editor)) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
        auto *list = qobject_cast<QComboBox *>(editor);
        const bool listOpen = list && list->view() && list->view()->isVisible();
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) && plain && !listOpen) {
            // The grid moves to the previous or next node; moving ends this edit, accepting it.
            const int pressed = key->key();
            if (!EndEdit())
                return true;
            if (m_view)
                QApplication::postEvent(m_view, new QKeyEvent(QEvent::KeyPress, pressed, Qt::NoModifier));
            return true;
        }
        // With a modifier the key stays with a text editor, which has no use for it: the grid must not move.
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) && qobject_cast<QLineEdit *>(editor))
            return true;
    }
    return QStyledItemDelegate::eventFilter(object, event);
}
