// The station's databases as the window starts, and an unfinished run the
// operator gives up.
#include "station/uPrincipal.h"

#include "collect/PuntoRegistro.h"
#include "collect/StationCore.h"
#include "ui/Confirm.h"

void TfPrincipal::comprobarRegistroDescargas() {
    try {
        m_core->prepareDatabases();
    } catch (const std::exception& error) {
        // Storing stays safe (a run that cannot journal is rolled back and
        // kept for recovery), but it cannot finish until this is put right.
        const QString text = QStringLiteral("ERROR: ") + QString::fromUtf8(error.what());
        statusText(text);
        try {
            m_core->logRow(text);
        } catch (const std::exception&) {
        }
    }
}

// The operator gives up a run whose local copies are gone for good (a share
// that will not come back): nothing is fetched while it waits.
void TfPrincipal::AbandonarDescarga1Click() {
    const std::optional<UnfinishedRun> run = m_station->unfinishedRun();
    if (!run) {
        statusText(QStringLiteral("No hay ninguna descarga sin terminar."));
        return;
    }
    if (confirm(abandonQuestion(*run), this))
        statusText(m_station->abandonRun(run->runId));
}
