// The stop signals as the window's event loop sees them. When one has come,
// every open dialog and menu is closed, so that a modal message box, the file
// dialog or the about window does not hold the program up, and the main
// window is told to end as E&xit ends it.
#pragma once

#include "ExitSignals.h"

#include <QObject>

class QSocketNotifier;

namespace qvx {

class TfrmMain;

class ExitSignalNotifier : public QObject {
    Q_OBJECT
public:
    // Watches `exitSignals`, which must outlive it.
    explicit ExitSignalNotifier(ExitSignals& exitSignals, QObject* parent = nullptr);

    // From now on a stop signal ends `window` (TfrmMain::ExitOnSignal); one
    // that came before, while the window was being created, ends it as soon
    // as its event loop runs.
    void Follow(TfrmMain& window);

signals:
    void stopSignal(int signo);

private:
    void Activated();

    ExitSignals& signals_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace qvx
