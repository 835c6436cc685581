#pragma once

#include <QWidget>

class QTableView;
class RecentContacts;

// A window listing the session's recent contacts and where each went. The
// list is live only while the window is shown.
class RecentContactsView final : public QWidget
{
    Q_OBJECT

public:
    explicit RecentContactsView(RecentContacts& model, QWidget* parent = nullptr);

    QTableView* table() const { return m_table; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void fitColumns();

    RecentContacts& m_model;
    QTableView* m_table = nullptr;
    bool m_followNewest = true;
};
