#include "app/edit_history.h"

#include <QUndoCommand>

#include <vector>

namespace {

std::vector<xml::Node> childElements(xml::Node node)
{
    std::vector<xml::Node> elements;
    for (xml::Node child = node ? node.FirstChild() : xml::Node(); child; child = child.NextSibling())
        if (child.IsElement())
            elements.push_back(child);
    return elements;
}

// Leaves of current whose text differs from the leaf at the same place in
// clean, or that clean lacks; elements are paired by position and name.
void collectChanged(xml::Node current, xml::Node clean, std::unordered_set<const void *> &changed)
{
    const std::vector<xml::Node> children = childElements(current);
    if (children.empty()) {
        if (!clean || clean.Text() != current.Text())
            changed.insert(current.Raw());
        return;
    }
    const std::vector<xml::Node> cleanChildren = childElements(clean);
    for (std::size_t i = 0; i < children.size(); ++i) {
        const xml::Node pair = i < cleanChildren.size() && cleanChildren[i].Name() == children[i].Name()
                                   ? cleanChildren[i]
                                   : xml::Node();
        collectChanged(children[i], pair, changed);
    }
}

} // namespace

// One change: the value document before and after it.
class TSnapshotCommand : public QUndoCommand {
public:
    TSnapshotCommand(TEditHistory &history, std::string before, std::string after, const QString &what)
        : QUndoCommand(what), m_history(history), m_before(std::move(before)), m_after(std::move(after))
    {
    }
    void undo() override { m_history.Apply(m_before); }
    void redo() override
    {
        // Pushed after the change was made: the first redo has nothing to do.
        if (m_done)
            m_history.Apply(m_after);
        m_done = true;
    }

private:
    TEditHistory &m_history;
    std::string m_before;
    std::string m_after;
    bool m_done = false;
};

TEditHistory::TEditHistory(QObject *parent) : QObject(parent)
{
    connect(&m_stack, &QUndoStack::cleanChanged, this, [this] {
        if (OnChanged)
            OnChanged();
    });
}

TEditHistory::~TEditHistory()
{
    m_stack.disconnect(this);
    OnChanged = nullptr;
    Restore = nullptr;
}

void TEditHistory::Reset(IConfigModel *model)
{
    m_model = model;
    m_stack.clear();
    MarkClean();
}

void TEditHistory::MarkClean()
{
    m_current = m_model ? m_model->ValueDocument().Save() : std::string();
    m_clean = m_current;
    m_cleanDocument.reset();
    if (m_model) {
        xml::ParseError error;
        m_cleanDocument = xml::Document::Parse(m_clean, error);
    }
    m_stack.setClean();
    Recount();
}

void TEditHistory::Changed(const QString &what)
{
    if (!m_model)
        return;
    std::string after = m_model->ValueDocument().Save();
    if (after == m_current)
        return;
    std::string before = std::move(m_current);
    m_current = after;
    m_stack.push(new TSnapshotCommand(*this, std::move(before), std::move(after), what));
    Recount();
}

void TEditHistory::Apply(const std::string &text)
{
    if (Restore)
        Restore(text);
    m_current = text;
    Recount();
}

void TEditHistory::Recount()
{
    m_modified.clear();
    if (m_model && m_current != m_clean)
        collectChanged(m_model->ValueDocument().DocumentElement(),
                       m_cleanDocument ? m_cleanDocument->DocumentElement() : xml::Node(), m_modified);
    if (OnChanged)
        OnChanged();
}
