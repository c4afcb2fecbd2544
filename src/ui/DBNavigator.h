#pragma once

#include "ui/DataSource.h"

#include <QList>
#include <QWidget>

class QToolButton;

// A data navigator: flat buttons that move through and edit a data source.
// The delete button asks "Delete record?" first. Buttons are enabled as the
// data source's position and state allow.
class TDBNavigator : public QWidget {
    Q_OBJECT
public:
    enum Button { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel };

    explicit TDBNavigator(QWidget* parent = nullptr);
    // A navigator of a read-only window: first, prior, next, last.
    static TDBNavigator* browser(QWidget* parent, TDataSource* source);

    void setDataSource(TDataSource* source); // not owned
    TDataSource* dataSource() const { return m_source; }
    // The buttons shown, in the fixed order above; all by default.
    void setVisibleButtons(const QList<Button>& buttons);
    QToolButton* button(Button which) const { return m_buttons.value(which); }

    // As a click on the button: runs its action guarded.
    void BtnClick(Button which);

private:
    void act(Button which);
    void updateButtons();

    TDataSource* m_source = nullptr;
    QList<QToolButton*> m_buttons;
};
