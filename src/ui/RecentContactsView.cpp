#include "ui/RecentContactsView.h"

#include "status/RecentContacts.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

RecentContactsView::RecentContactsView(RecentContacts& model, QWidget* parent)
    : QWidget(parent, Qt::Window), m_model(model), m_table(new QTableView(this))
{
    setObjectName(QStringLiteral("RecentContactsView"));
    setWindowTitle(tr("Recent Contacts - Tarvex"));
    m_table->setObjectName(QStringLiteral("tblRecent"));
    m_table->setModel(&m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_table);
    resize(fontMetrics().averageCharWidth() * 120, fontMetrics().height() * 24);

    // New contacts arrive at the bottom; the view follows them unless the
    // operator has scrolled up to read.
    QScrollBar* bar = m_table->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { m_followNewest = value == bar->maximum(); });
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        fitColumns();
        if (m_followNewest)
            m_table->scrollToBottom();
    });
    auto* close = new QShortcut(QKeySequence::Cancel, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

void RecentContactsView::fitColumns()
{
    // The header's own fitting misses rows published while the view opens.
    for (int column = 0; column < RecentContacts::StateColumn; ++column)
        m_table->resizeColumnToContents(column);
}

void RecentContactsView::showEvent(QShowEvent* event)
{
    m_model.setLive(true);
    fitColumns();
    m_table->scrollToBottom();
    QWidget::showEvent(event);
}

void RecentContactsView::hideEvent(QHideEvent* event)
{
    m_model.setLive(false);
    QWidget::hideEvent(event);
}
