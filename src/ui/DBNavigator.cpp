#include "ui/DBNavigator.h"

#include "platform/Guarded.h"
#include "ui/Confirm.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace {

struct ButtonLook {
    const char* glyph;
    const char* hint;
};

// Glyphs and hints in the order of TDBNavigator::Button.
constexpr ButtonLook kLooks[] = {
    {"|\u25C0", "Primero"}, {"\u25C0", "Anterior"}, {"\u25B6", "Siguiente"},
    {"\u25B6|", "Último"},  {"+", "Insertar"},      {"\u2212", "Eliminar"},
    {"\u25B2", "Editar"},   {"\u2714", "Grabar"},   {"\u2716", "Cancelar"},
};

} // namespace

TDBNavigator* TDBNavigator::browser(QWidget* parent, TDataSource* source) {
    auto* navigator = new TDBNavigator(parent);
    navigator->setObjectName(QStringLiteral("DBNavigator1"));
    navigator->setVisibleButtons({nbFirst, nbPrior, nbNext, nbLast});
    navigator->setDataSource(source);
    return navigator;
}

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = nbFirst; i <= nbCancel; ++i) {
        auto* button = new QToolButton(this);
        button->setAutoRaise(true); // flat
        button->setFocusPolicy(Qt::NoFocus);
        button->setText(QString::fromUtf8(kLooks[i].glyph));
        button->setToolTip(QString::fromUtf8(kLooks[i].hint));
        button->setFixedSize(25, 25);
        connect(button, &QToolButton::clicked, this, [this, i] { BtnClick(Button(i)); });
        layout->addWidget(button);
        m_buttons << button;
    }
    updateButtons();
}

void TDBNavigator::setDataSource(TDataSource* source) {
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (source) {
        connect(source, &TDataSource::afterScroll, this, &TDBNavigator::updateButtons);
        connect(source, &TDataSource::stateChanged, this, &TDBNavigator::updateButtons);
        connect(source, &TDataSource::rowsChanged, this, &TDBNavigator::updateButtons);
    }
    updateButtons();
}

void TDBNavigator::setVisibleButtons(const QList<Button>& buttons) {
    for (int i = nbFirst; i <= nbCancel; ++i)
        m_buttons[i]->setVisible(buttons.contains(Button(i)));
}

void TDBNavigator::BtnClick(Button which) {
    if (!m_source)
        return;
    if (which == nbDelete && !confirm(QStringLiteral("Delete record?"), window()))
        return;
    runGuarded([&] { act(which); });
}

void TDBNavigator::act(Button which) {
    switch (which) {
    case nbFirst:
        return m_source->first();
    case nbPrior:
        return m_source->prior();
    case nbNext:
        return m_source->next();
    case nbLast:
        return m_source->last();
    case nbInsert:
        return m_source->insert();
    case nbDelete:
        return m_source->remove();
    case nbEdit:
        return m_source->edit();
    case nbPost:
        return m_source->post();
    case nbCancel:
        return m_source->cancel();
    }
}

void TDBNavigator::updateButtons() {
    const bool active = m_source && m_source->active();
    const bool writable = active && !m_source->readOnly();
    const bool browsing = active && m_source->state() == TDataSource::State::Browse;
    const int rows = active ? m_source->rowCount() : 0;
    const int row = active ? m_source->currentRow() : -1;
    m_buttons[nbFirst]->setEnabled(active && row > 0);
    m_buttons[nbPrior]->setEnabled(active && row > 0);
    m_buttons[nbNext]->setEnabled(active && row >= 0 && row < rows - 1);
    m_buttons[nbLast]->setEnabled(active && row >= 0 && row < rows - 1);
    m_buttons[nbInsert]->setEnabled(writable);
    m_buttons[nbDelete]->setEnabled(writable && rows > 0);
    m_buttons[nbEdit]->setEnabled(writable && browsing);
    m_buttons[nbPost]->setEnabled(writable && !browsing);
    m_buttons[nbCancel]->setEnabled(writable && !browsing);
}
