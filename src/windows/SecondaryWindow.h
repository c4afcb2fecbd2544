#pragma once

#include <QDialog>

// A secondary window of the station: created once at start-up, shown modally
// from the main window's menu, centred on the screen. Its size is that of the
// whole window, frame included, where the window system tells the frame.
class TSecondaryWindow : public QDialog {
    Q_OBJECT
public:
    TSecondaryWindow(QWidget* parent, const QString& objectName, const QString& caption,
                     QSize outerSize);

    // Shows the window modally and returns when it has been closed.
    int ShowModal();

    // Run when the window is shown and when it is closed; errors reach the
    // standard error box.
    virtual void FormShow() {}
    virtual void FormClose() {}

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    bool event(QEvent* event) override;

private:
    void fitOuterSize();

    QSize m_outerSize;
    bool m_fitPending = false; // shown, frame not yet told
};
