// The main window's part of a point's work: the core reports through mStatus,
// StatusBar1 and log.DB, and the recovery state is saved with the settings.
#include "PrincipalParts.h"
#include "SimPoints.h"
#include "StationFixture.h"
#include "collect/PuntoRegistro.h"
#include "collect/RunState.h"
#include "station/uPrincipal.h"
#include "store/DataSet.h"
#include "ui/StatusBar.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTest>

class TestPrincipalPoint : public QObject {
    Q_OBJECT

private slots:
    void descargarReportsInTheWindowAndTheLog() {
        StationFixture fx;
        SimPoints sim({{QStringLiteral("127.0.2.1"), simRecords(3)}});
        QVERIFY(sim.started());
        sim.applyPorts();
        TfPrincipal w;
        const PrincipalParts p(w);
        p.mStatus->setPlainText(QStringLiteral("Iniciando ciclo\n"));
        CycleOutput out{fx.path(QStringLiteral("salida.txt"))};
        w.punto().Descargar(QStringLiteral("127.0.2.1"), QStringLiteral("Planta"),
                            QStringLiteral("L01"), out);
        QCOMPARE(p.mStatus->toPlainText(),
                 QStringLiteral("Iniciando ciclo\n   Planta... 3 registro(s).\n"));
        QVERIFY(p.StatusBar1->SimpleText().startsWith(QStringLiteral("FTP: ")));

        // The log rows are written off the event loop: the last one comes.
        TTable log;
        log.DatabaseName = w.localAlias();
        log.TableName = QStringLiteral("log.DB");
        const auto lastArchivo = [&log] {
            log.Close();
            log.Open();
            log.Last();
            return log.FieldByName(QStringLiteral("Archivo")).AsString();
        };
        QTRY_COMPARE(lastArchivo(), QStringLiteral("L01: ") + out.path);
        QCOMPARE(log.FieldByName(QStringLiteral("NroRegAsist")).AsInteger(), 3);
        QVERIFY(log.FieldByName(QStringLiteral("Fecha")).AsDateTime() > 0);
        log.Close();

        const RunState state = RunState::load(RunState::defaultPath());
        QVERIFY(!state.unfinished);
        QCOMPARE(state.run.loc, QStringLiteral("L01"));
    }

    // A recovery state that cannot be saved means the point's records would
    // be deleted with nothing on the disk to recover them, so the run does
    // not happen.
    void runStateThatCannotBeSavedStopsTheRun() {
        StationFixture fx;
        const QString ip = QStringLiteral("127.0.5.2");
        SimPoints sim({{ip, simRecords(3)}});
        QVERIFY(sim.started());
        sim.applyPorts();
        TfPrincipal w;
        const PrincipalParts p(w);
        CycleOutput out{fx.path(QStringLiteral("salida.txt"))};
        w.punto().Descargar(ip, QStringLiteral("Planta"), QStringLiteral("L01"),
                            out); // state loaded
        w.punto().closeFtp();
        QVERIFY(QFile::remove(RunState::defaultPath()));
        QVERIFY(QDir().mkpath(RunState::defaultPath() + QStringLiteral("/a-directory")));
        sim.serve(ip, simRecords(2, 50));
        QVERIFY_THROWS_EXCEPTION(std::exception, w.punto().Descargar(ip, QStringLiteral("Planta"),
                                                                     QStringLiteral("L01"), out));
        w.punto().closeFtp();
        QCOMPARE(sim.countEvents(ip, "DELE x"), 1);
        QFile output(out.path);
        QVERIFY(output.open(QIODevice::ReadOnly));
        QCOMPARE(output.readAll().count('\n'), 3); // the first visit's lines only
        TQuery q;
        q.DatabaseName = w.localAlias();
        q.SQL = QStringList{QStringLiteral("select * from lectura.DB")};
        q.Open();
        QCOMPARE(q.RecordCount(), 3);
        q.Close();
        w.guardarParam(); // closing still says nothing
    }

    void ftpFailureTextsDifferOnScreenAndInTheLog() {
        StationFixture fx;
        TfPrincipal w;
        const PrincipalParts p(w);
        bool handled = false;
        w.punto().ftp().OnFailure(handled, ctDownload);
        QVERIFY(handled);
        QCOMPARE(p.StatusBar1->SimpleText(), QStringLiteral("FTP: ¡FALLO!"));
        p.StatusBar1->setSimpleText(QString());
        handled = false;
        w.punto().ftp().OnFailure(handled, ctDelete); // a failed delete is only flagged
        QVERIFY(handled);
        QCOMPARE(p.StatusBar1->SimpleText(), QString());
        TQuery q;
        q.DatabaseName = w.localAlias();
        q.SQL = QStringList{QStringLiteral("select * from log.db")};
        const auto rows = [&q] {
            q.Close();
            q.Open();
            return q.RecordCount();
        };
        QTRY_COMPARE(rows(), 1); // written off the event loop
        QCOMPARE(q.FieldByName(QStringLiteral("Archivo")).AsString(),
                 QStringLiteral("FTP: FALLO!"));
    }
};

QTEST_MAIN(TestPrincipalPoint)
#include "tst_principalpoint.moc"
