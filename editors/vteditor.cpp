#include "editors/vteditor.h"

#include "editors/int_spin.h"
#include "model/errors.h"
#include "model/tools.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

namespace {

// Which control edits a type word.
enum class TEditorKind { Text, Integer, Bool, Choice };

constexpr int kRowHeight = 20;

TEditorKind editorKind(const std::string &type)
{
    static const char *const kTextTypes[] = {"string", "pswd_string", "ip_string", "phone",
                                             "hex",    "hex_array",   "dec_array"};
    for (const char *word : kTextTypes)
        if (type == word)
            return TEditorKind::Text;
    if (type == "int")
        return TEditorKind::Integer;
    if (type == "bool")
        return TEditorKind::Bool;
    return TEditorKind::Choice;
}

QString qtext(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

TPropertyEditLink::TPropertyEditLink(ITreeGrid &tree, std::function<PVirtualNode(const QModelIndex &)> nodeOf,
                                     std::function<IConfigModel *()> model, QAbstractItemView *view)
    : QStyledItemDelegate(view), FTree(tree), m_nodeOf(std::move(nodeOf)), m_model(std::move(model)), m_view(view)
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
    if (!data.Value || !data.Description)
        return nullptr;
    const std::string type = ItemType(data.Description);
    const std::string text = data.Value.Text();
    QWidget *editor = nullptr;
    switch (editorKind(type)) {
    case TEditorKind::Text: {
        auto *edit = new QLineEdit(parent);
        edit->setText(qtext(text));
        editor = edit;
        break;
    }
    case TEditorKind::Integer: {
        auto *spin = new TIntSpinEdit(parent);
        // The value goes in before the limits, so a stored value outside them shows unchanged.
        spin->SetValue(StrToIntWide(text));
        spin->SetLimits(GetIntAttribute(data.Description, "min", 0), GetIntAttribute(data.Description, "max", 0));
        editor = spin;
        break;
    }
    case TEditorKind::Bool: {
        auto *list = new QComboBox(parent);
        list->addItems({"Нет", "Да"});
        list->setCurrentIndex(text == "0" ? 0 : 1);
        editor = list;
        break;
    }
    case TEditorKind::Choice: {
        auto *list = new QComboBox(parent);
        IConfigModel *model = m_model ? m_model() : nullptr;
        const xml::Node choices = model ? model->FindEnum(type) : xml::Node();
        int selected = -1;
        int position = 0;
        for (xml::Node choice = choices.FirstChild(); choice; choice = choice.NextSibling(), ++position) {
            list->addItem(qtext(GetAttribute(choice, "caption")));
            if (selected < 0 && GetAttribute(choice, "value") == text)
                selected = position;
        }
        list->setCurrentIndex(selected);
        editor = list;
        break;
    }
    }
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
    if (node && editor == FEdit)
        StoreText(editor, node);
}

void TPropertyEditLink::StoreText(QWidget *editor, PVirtualNode node) const
{
    TTreeData &data = FTree.Data(node);
    if (!data.Value || !data.Description)
        return;
    const std::string type = ItemType(data.Description);
    std::string text;
    if (auto *edit = qobject_cast<QLineEdit *>(editor)) {
        text = edit->text().left(kMaxText).toStdString();
    } else if (auto *spin = qobject_cast<TIntSpinEdit *>(editor)) {
        text = spin->Text().toStdString();
        if (text.empty()) {
            spin->SetValue(spin->MinValue());
            text = std::to_string(spin->MinValue());
        }
    } else if (auto *list = qobject_cast<QComboBox *>(editor)) {
        const int selected = list->currentIndex();
        if (type == "bool") {
            if (selected < 0)
                return; // nothing chosen: the value stays
            text = std::to_string(selected);
        } else {
            IConfigModel *model = m_model ? m_model() : nullptr;
            const xml::Node choices = model ? model->FindEnum(type) : xml::Node();
            xml::Node choice = choices.FirstChild();
            for (int i = 0; choice && i < selected; ++i)
                choice = choice.NextSibling();
            if (selected < 0 || !choice)
                return;
            text = GetAttribute(choice, "value");
        }
    } else {
        return;
    }
    const bool changed = data.Value.Text() != text;
    data.Value.SetText(text);
    FTree.InvalidateNode(node);
    // An edited on/off switch may switch its array element on or off.
    if (FTree.Level(node) >= 3 && data.Deactivator) {
        PVirtualNode element = node;
        while (element && FTree.Level(element) > 2)
            element = FTree.Parent(element);
        if (element) {
            FTree.Data(element).Gray = !GroupHasActiveDeactivator(FTree, element);
            FTree.InvalidateNode(element);
        }
    }
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
    if (event->type() == QEvent::KeyPress && editor && !qobject_cast<TIntSpinEdit *>(editor)) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
        auto *list = qobject_cast<QComboBox *>(editor);
        const bool listOpen = list && list->view() && list->view()->isVisible();
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) && plain && !listOpen) {
            // The grid moves to the previous or next node; moving ends this edit, accepting it.
            const int pressed = key->key();
            EndEdit();
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
