#include "ExitSignalNotifier.h"
#include "ISP_S8252.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

namespace qvx {

namespace {

// Menus first, then dialogs, the innermost first: each one's event loop
// returns when control gets back to it.
void CloseDialogsAndMenus()
{
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup)
            break;
        popup->close();
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (auto* dialog = qobject_cast<QDialog*>(*it); dialog && dialog->isVisible())
            dialog->reject();
}

} // namespace

ExitSignalNotifier::ExitSignalNotifier(ExitSignals& exitSignals, QObject* parent)
    : QObject(parent), signals_(exitSignals)
{
    if (signals_.Descriptor() < 0)
        return;
    notifier_ = new QSocketNotifier(signals_.Descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ExitSignalNotifier::Activated);
}

void ExitSignalNotifier::Activated()
{
    signals_.Drain();
    if (!signals_.Received())
        return;
    CloseDialogsAndMenus();
    emit stopSignal(signals_.Received());
}

void ExitSignalNotifier::Follow(TfrmMain& window)
{
    connect(this, &ExitSignalNotifier::stopSignal, &window, &TfrmMain::ExitOnSignal);
    if (const int signo = signals_.Received())
        QMetaObject::invokeMethod(
            &window, [&window, signo] { window.ExitOnSignal(signo); }, Qt::QueuedConnection);
}

} // namespace qvx
