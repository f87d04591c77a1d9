#include "app/StepList.h"

#include "app/Pictures.h"


namespace vz {

StepList::StepList(const QStringList& captions, QWidget* parent)
    : QTreeWidget(parent),
      states_(static_cast<int>(captions.size())),
      pictures_{Pictures::stepState(StepPending), Pictures::stepState(StepDone), Pictures::stepState(StepFailed),
                Pictures::stepState(StepRunning)}
{
    setHeaderHidden(true);
    setColumnCount(1);
    setIndentation(19);
    setIconSize(QSize(16, 16));
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setUniformRowHeights(true);
    for (const QString& caption : captions) {
        auto* node = new QTreeWidgetItem(QStringList{caption});
        // Rows as tall as the pictures, so every step fits without scrolling.
        node->setSizeHint(0, QSize(0, RowHeight));
        addTopLevelItem(node);
    }
    showStates();
}

void StepList::showStates()
{
    for (int i = 0; i < states_.count(); ++i) {
        QTreeWidgetItem* node = topLevelItem(i);
        const QIcon& picture = pictures_[states_.at(i)];
        if (node->data(0, Qt::UserRole).toInt() != states_.at(i) || node->icon(0).isNull()) {
            node->setIcon(0, picture);
            node->setData(0, Qt::UserRole, static_cast<int>(states_.at(i)));
        }
    }
}

void StepList::reset()
{
    states_.reset();
    showStates();
    viewport()->repaint();
}

void StepList::markRunning(int index)
{
    states_.markRunning(index);
    showStates();
    viewport()->repaint();
}

void StepList::markFailedFrom(int index)
{
    states_.markFailedFrom(index);
    showStates();
}

}  // namespace vz
